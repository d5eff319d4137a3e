#include "offline/image/watchdog.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace endpointfix::offline::image {
namespace {

constexpr std::chrono::milliseconds kLook{100};

// Whether process `pid` is a child of `parent` that runs QEMU, from /proc/PID/stat:
// "PID (NAME) STATE PPID ...", where NAME may hold anything, up to the last ')'.
bool qemu_child(const std::string& pid, pid_t parent) {
    std::ifstream stat("/proc/" + pid + "/stat");
    const std::string text{std::istreambuf_iterator<char>(stat), {}};
    const auto name_end = text.rfind(')');
    if (name_end == text.npos || name_end + 4 >= text.size()) return false;
    const auto name = text.find(" (") + 2;
    return text.compare(name, 4, "qemu") == 0 &&
           std::strtol(text.c_str() + name_end + 4, nullptr, 10) == parent;
}

}  // namespace

void end_qemu() {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return;
    const pid_t self = getpid();
    while (const dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") == pid.npos && qemu_child(pid, self))
            kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
    }
    closedir(proc);
}

void reap_children(std::chrono::seconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const pid_t reaped = waitpid(-1, nullptr, WNOHANG);
        if (reaped > 0 || (reaped < 0 && errno == EINTR)) continue;
        if (reaped < 0 || std::chrono::steady_clock::now() >= until) return;  // none left, or late
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

Watchdog::Watchdog(const volatile std::sig_atomic_t& signal, std::chrono::seconds bound)
    : signal_(signal), bound_(bound), thread_([this] { watch(); }) {}

Watchdog::~Watchdog() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stop_.notify_all();
    thread_.join();
}

void Watchdog::watch() {
    using Clock = std::chrono::steady_clock;
    // When a signal was first seen in the write-back under way, where one was.
    bool signalled_writing = false;
    Clock::time_point since = start_;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_.wait_for(lock, kLook, [this] { return stopping_; })) {
        const auto now = Clock::now();
        const bool writing = writing_;
        if (!writing || !signalled())
            signalled_writing = false;
        else if (!signalled_writing)
            signalled_writing = true, since = now;
        const Clock::duration grace = writing ? Clock::duration(kWriteGrace) : Clock::duration::zero();
        if (bound_.count() > 0 && now - start_ > bound_ + grace) out_of_time_ = true;
        const bool stuck = signalled_writing && now - since > kSignalGrace;
        // Ended again each look: libguestfs may start another QEMU (the next batch's appliance).
        if (out_of_time_ || stuck || (signalled() && !writing)) end_qemu();
    }
}

}  // namespace endpointfix::offline::image
