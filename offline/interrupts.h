// The signals that ask a run to stop (SIGINT, SIGTERM, SIGHUP), noted rather than obeyed at
// once, so that a run stops where it can stop whole, and ends by the signal after that.
#pragma once

#include <csignal>

namespace endpointfix::offline {

// Installs the handlers that note these signals.
void note_interrupts();
// The signal noted, or 0: a replace stops at it (offline/sink/replace.h).
const volatile std::sig_atomic_t& interrupting_signal();
// Forgets the signal noted: it came too late to stop what was done.
void forget_interrupt();
// Ends the process by the signal noted, where there is one, as it would have ended; otherwise
// returns `status`.
int end_by_interrupt(int status);

}  // namespace endpointfix::offline
