// endpointfix-offline-image: endpointfix-offline's modes over the SOFTWARE hive inside disk
// images, through libguestfs. Started by `endpointfix-offline --image IMAGE...` with the user's
// arguments, which it reads with the same parser. The images are attached to one appliance
// (kDrivesAStart at most a start), and serviced in turn: each hive and its logs are copied out
// into a private folder, and serviced there by the offline service itself, named as they stand
// in the image; for --apply, the new hive is written back into the image in the same start.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>

#include "check/check.h"
#include "check/escaped_name.h"
#include "offline/image/batch.h"
#include "offline/image/find_hive.h"
#include "offline/image/private_folder.h"
#include "offline/image/write_back.h"
#include "offline/interrupts.h"
#include "offline/options.h"
#include "offline/load/path_parts.h"
#include "offline/service.h"
#include "offline/std_streams.h"

namespace {

using namespace endpointfix;
using namespace endpointfix::offline;
using namespace endpointfix::offline::image;

constexpr char kProgram[] = "endpointfix-offline";

void tell(const std::string& what, const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", kProgram, escaped_name(what + ": " + line).c_str());
}

int refuse(const std::string& what, const std::string& why) {
    tell(what, why);
    return kBlockedOrUnreadable;
}

bool interrupted() { return interrupting_signal() != 0; }

// Copies the hive and its logs into `folder` and notes what was read.
std::string copy_out(Appliance& guest, const std::string& folder, HiveRead& read) {
    const std::string& hive = read.at.hive;
    FileFacts facts;
    Result done = guest.volume().stat(hive, facts);
    if (done.ok()) done = guest.volume().sha256(hive, read.sha256);
    if (done.ok()) done = guest.copy_out(hive, folder + "/" + split_path(hive).name);
    if (!done.ok()) return done.message();
    read.size = static_cast<std::int64_t>(facts.size);
    for (const auto& log : hive_logs(guest, hive))
        if (const Result copied = guest.copy_out(sibling_path(hive, log), folder + "/" + log);
            !copied.ok())
            return copied.message();
    return "";
}

// One image, its disk attached in `guest`: found, copied out, and serviced as a hive file is.
int service_image(Appliance& guest, const std::string& disk, const std::string& image,
                  const Options& options) {
    const bool apply = options.mode == Mode::kApply;
    const PrivateFolder folder;
    if (folder.path().empty()) return refuse(image, "cannot create a private temporary folder");
    HiveRead read;
    std::string why = find_installation(guest, disk, options.root, read.at);
    if (why.empty() && apply && hibernated(guest)) why = kHibernated;
    if (why.empty()) why = copy_out(guest, folder.path(), read);
    guest.unmount_all();
    if (!why.empty()) return refuse(image, why);
    if (interrupted()) return kBlockedOrUnreadable;

    // Messages and --json name the hive as it stands in the image; the copy is what is read.
    const HiveSource hive{image + ":" + read.at.hive,
                          folder.path() + "/" + split_path(read.at.hive).name, false};
    ImageWriteBack sink(guest, read, options.backup, interrupting_signal());
    return serve(kProgram, options, hive, sink);
}

// The images of `group` (at most kDrivesAStart to attach) in one appliance, in their order; each
// refused image in its turn. Returns the highest status.
int service_group(const std::vector<const Planned*>& group, const Options& options) {
    std::vector<Drive> drives;
    for (const Planned* one : group)
        if (one->refused.empty()) drives.push_back(one->drive);
    std::string why;
    // --apply attaches the images writable from the start: the hive is read from a read-only
    // mount, and the volume remounted writable only where there is something to write.
    const auto guest = drives.empty() ? nullptr
                                      : open_guest(drives, options.mode == Mode::kApply, why);
    std::vector<std::string> disks;
    if (guest && (!guest->disks(disks).ok() || disks.size() != drives.size()))
        why = "the appliance shows another count of disks";
    int status = 0;
    std::size_t drive = 0;
    for (const Planned* one : group) {
        if (interrupted()) return kBlockedOrUnreadable;
        int got = kBlockedOrUnreadable;
        if (!one->refused.empty())
            refuse(one->image, one->refused);
        else if (!why.empty() || !guest)
            refuse(one->image, why);
        else
            got = service_image(*guest, disks[drive], one->image, options);
        if (one->refused.empty()) ++drive;
        status = std::max(status, got);
    }
    return status;
}

int service(const Options& options) {
    const std::vector<Planned> plan = plan_images(options.images);
    int status = 0;
    std::vector<const Planned*> group;
    std::size_t attached = 0;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        group.push_back(&plan[i]);
        if (plan[i].refused.empty()) ++attached;
        if (attached == kDrivesAStart || i + 1 == plan.size()) {
            status = std::max(status, service_group(group, options));
            if (interrupted()) return kBlockedOrUnreadable;
            group.clear(), attached = 0;
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
    // Everything is removed by then; the signal ends this program as it would have.
    return end_by_interrupt(service(options));
}
