// The bound on every wait of an image run. libguestfs' calls block until the appliance answers,
// for as long as it takes: its start (tens of seconds without KVM), a guest that QEMU paused, a
// read that never ends. A watchdog thread ends the appliance (QEMU, every child process of this
// program's that is QEMU), after which each call fails at once and the run ends by its own paths:
// - where a signal asked the run to stop (interrupts.h), at once; but during a write-back, which
//   stops at its next step by itself (replace.h), the hive whole, only where the guest has not
//   got there kSignalGrace later (it no longer answers: QEMU paused it);
// - where the run's bound passed; during a write-back only kWriteGrace later, so that a write
//   under way may end whole.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

namespace endpointfix::offline::image {

constexpr std::chrono::seconds kWriteGrace{60};
constexpr std::chrono::seconds kSignalGrace{10};

class Watchdog {
public:
    // `bound`: the longest the run may take; zero for no bound.
    Watchdog(const volatile std::sig_atomic_t& signal, std::chrono::seconds bound);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Whether a write-back is under way. Ending one, `signal` is the signal noted then, kept
    // here: the service forgets one that came after the rename (it stops nothing of that image),
    // but the images after it are not to be serviced.
    void writing(bool now, int signal = 0) {
        if (signal != 0) kept_ = signal;
        writing_ = now;
    }
    // Whether a signal asked the run to stop, even one the service has forgotten.
    bool signalled() const { return signal_ != 0 || kept_ != 0; }
    // Whether the bound passed (and the appliance was ended for it).
    bool out_of_time() const { return out_of_time_; }
    std::chrono::seconds bound() const { return bound_; }

private:
    void watch();
    const volatile std::sig_atomic_t& signal_;
    const std::chrono::seconds bound_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::atomic<bool> writing_{false}, out_of_time_{false};
    std::atomic<int> kept_{0};
    std::mutex mutex_;
    std::condition_variable stop_;
    bool stopping_ = false;
    std::thread thread_;
};

// Kills (SIGKILL) every child process of this program that runs QEMU (its name begins "qemu"):
// the appliance, or qemu-img probing an image. The others are left to end by themselves:
// supermin, which libguestfs may run first to build its appliance, leaves its folder in TMPDIR
// where it is killed, and ends within a few seconds.
void end_qemu();

// Waits, `bound` at most, until no child process of this program is left: those libguestfs
// started and did not wait for, where a signal cut its wait short.
void reap_children(std::chrono::seconds bound);

}  // namespace endpointfix::offline::image
