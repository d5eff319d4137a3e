#include "offline/interrupts.h"

#include <initializer_list>

namespace endpointfix::offline {
namespace {

volatile std::sig_atomic_t g_noted = 0;

void note(int signal) { g_noted = signal; }

}  // namespace

void note_interrupts() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, note);
}

const volatile std::sig_atomic_t& interrupting_signal() { return g_noted; }

void forget_interrupt() { g_noted = 0; }

int end_by_interrupt(int status) {
    if (g_noted == 0) return status;
    const int signal = g_noted;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return 128 + signal;  // where the signal is blocked or ignored by whoever started this run
}

}  // namespace endpointfix::offline
