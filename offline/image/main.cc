// endpointfix-offline-image: endpointfix-offline's modes over the SOFTWARE hive inside disk
// images, through libguestfs. Started by `endpointfix-offline --image IMAGE...` with the user's
// arguments, which it reads with the same parser. The images are attached to one appliance
// (kDrivesAStart at most a start), and serviced in turn (service_image.h); for --apply, the new
// hive is written back into the image in the same start. One image that cannot be serviced is
// refused by name, and the others still are.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "check/check.h"
#include "offline/image/batch.h"
#include "offline/image/held_output.h"
#include "offline/image/progress.h"
#include "offline/image/service_image.h"
#include "offline/image/watchdog.h"
#include "offline/interrupts.h"
#include "offline/load/private_folder.h"
#include "offline/options.h"
#include "offline/std_streams.h"

namespace {

using namespace endpointfix;
using namespace endpointfix::offline;
using namespace endpointfix::offline::image;

bool attached(const Planned& one) { return one.refused.empty() && one.same_as.empty(); }

// The reason in the last line a refused image's run said: after the program's name and the
// image's (or its hive's) name.
std::string reason_in(const std::string& said, const HiveWhere& where) {
    std::string line = said.substr(0, said.find_last_not_of('\n') + 1);
    line = line.substr(line.rfind('\n') + 1);
    for (const std::string& name : {std::string(kProgram), where.image + ":" + where.path, where.image})
        if (line.rfind(name + ": ", 0) == 0) line.erase(0, name.size() + 2);
    return line;
}

// Runs `one` (its status, `where` set): with --json, its output held, so that its document names
// the image in fields of its own, and an image whose run printed none gets one that says why.
template <typename Run>
int reported(const Options& options, const std::string& image, Run run) {
    HiveWhere where{image, "", ""};
    if (!options.json) return run(where);
    HeldOutput out(stdout, 1), err(stderr, 2);
    if (!out.held() || !err.held()) return run(where);  // no temporary file: as it comes
    const int status = run(where);
    const auto document = out.release(), said = err.release();
    if (said) std::fputs(said->c_str(), stderr);
    const std::string source = where.path.empty() ? image : image + ":" + where.path;
    if (document && !document->empty())
        std::fputs(with_where(*document, where).c_str(), stdout);
    else
        print_refused(stdout, kProgram, source, where, said ? reason_in(*said, where) : "", status);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? status
                                                             : std::max(status, kOutputFailed);
}

// The images of `group` (at most kDrivesAStart to attach) in one appliance, in their order; each
// refused image in its turn. Returns the highest status.
int service_group(const std::vector<const Planned*>& group, const Options& options, bool headed,
                  Watchdog& watchdog) {
    std::vector<Drive> drives;
    for (const Planned* one : group)
        if (attached(*one)) drives.push_back(one->drive);
    std::string why;
    // --apply attaches the images writable from the start: the hive is read from a read-only
    // mount, and the volume remounted writable only where there is something to write.
    const bool start = !drives.empty() && stopped(watchdog).empty();
    if (start)
        progress("starting libguestfs' appliance for " + std::to_string(drives.size()) +
                 (drives.size() == 1 ? " image" : " images") +
                 " (without KVM this takes tens of seconds)");
    std::unique_ptr<Appliance> guest;
    if (start) why = open_guest(drives, options.mode == Mode::kApply, guest).message();
    std::vector<std::string> disks;
    if (guest && (!guest->disks(disks).ok() || disks.size() != drives.size()))
        why = "the appliance shows another count of disks";
    int status = 0;
    std::size_t drive = 0;
    for (const Planned* one : group) {
        const std::string cause = stopped(watchdog);
        const std::string& refused = !cause.empty() ? cause : !one->refused.empty() ? one->refused : why;
        const int got = reported(options, one->image, [&](HiveWhere& where) {
            if (!one->same_as.empty()) {
                tell(one->image, "is the same file as " + one->same_as + ", given before: serviced once");
                return 0;
            }
            if (!refused.empty() || !guest) {
                tell(one->image, refused);
                return kBlockedOrUnreadable;
            }
            return service_image(*guest, disks[drive], *one, options, headed, watchdog, where);
        });
        if (attached(*one)) ++drive;
        status = std::max(status, got);
    }
    return status;
}

int service(const Options& options) {
    // Every wait of the run bounded: a signal, or the bound, ends the appliance (watchdog.h).
    Watchdog watchdog(interrupting_signal(), std::chrono::seconds(options.timeout));
    std::vector<Planned> plan = plan_images(options.images, options.mode == Mode::kApply);
    for (std::size_t i = 0; i < plan.size(); ++i) plan[i].root = options.roots[i];
    int status = 0;
    std::vector<const Planned*> group;
    std::size_t in_group = 0;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        group.push_back(&plan[i]);
        if (attached(plan[i])) ++in_group;
        if (in_group == kDrivesAStart || i + 1 == plan.size()) {
            status = std::max(status, service_group(group, options, plan.size() > 1, watchdog));
            group.clear(), in_group = 0;
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (!open_standard_streams()) return kBlockedOrUnreadable;
    Options options;
    std::string error = parse_options(argc, argv, options).message();
    if (options.images.empty())
        error = "no --image IMAGE given (this program is started by endpointfix-offline --image)";
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", kProgram, error.c_str(), kUsageText);
        return kUsage;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Every mode: the appliance is stopped, and the copies removed, before a signal ends it.
    note_interrupts();
    start_progress(options.progress);
    if (const int removed = remove_dead_private_folders("image"); removed > 0)
        tell(kProgram, "removed " + std::to_string(removed) +
                           " temporary folder(s) left by runs that were stopped");
    // libguestfs' own temporary files go into a folder of this run's, removed whole however the
    // run ends (a run killed outright leaves it to the next): a signal that cuts one of its waits
    // short can leave them behind. Its appliance's cache stays where it would have been.
    const char* tmp = std::getenv("TMPDIR");
    const std::string given = tmp != nullptr && *tmp != '\0' ? tmp : "/var/tmp";
    setenv("LIBGUESTFS_CACHEDIR", given.c_str(), 0);
    int status = kBlockedOrUnreadable;
    {
        const PrivateFolder run("image");
        if (!run.path().empty()) setenv("TMPDIR", run.path().c_str(), 1);
        status = service(options);
        reap_children(std::chrono::seconds(30));
    }
    // Everything is removed by then; the signal ends this program as it would have.
    return end_by_interrupt(status);
}
