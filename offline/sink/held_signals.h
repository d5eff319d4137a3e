// Holding back the signals that would end the process, while something must be done whole.
#pragma once

#include <signal.h>

namespace endpointfix::offline {

// Holds back the signals that end a process, for as long as it lives; they arrive, if they
// came, once it is gone. SIGXFSZ among them: a file size limit met while a file is written ends
// the run only after what it was doing has been done or undone.
class HeldSignals {
public:
    HeldSignals() {
        sigset_t held;
        sigemptyset(&held);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ}) sigaddset(&held, s);
        sigprocmask(SIG_BLOCK, &held, &before_);
    }
    ~HeldSignals() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t before_;
};

}  // namespace endpointfix::offline
