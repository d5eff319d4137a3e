#include "offline/image/service_image.h"

#include <cstdio>

#include "check/check.h"
#include "check/escaped_name.h"
#include "offline/image/bounded_write_back.h"
#include "offline/image/find_hive.h"
#include "offline/load/private_folder.h"
#include "offline/image/progress.h"
#include "offline/image/read_only_image.h"
#include "offline/image/write_back.h"
#include "offline/interrupts.h"
#include "offline/load/path_parts.h"
#include "offline/service.h"

namespace endpointfix::offline::image {
namespace {

// Where the run was stopped, the guest's calls fail for that: that is said instead.
int refuse(const std::string& what, const std::string& why, const Watchdog& watchdog) {
    const std::string cause = stopped(watchdog);
    tell(what, cause.empty() ? why : cause);
    return kBlockedOrUnreadable;
}

// Copies the hive and its logs into `folder` and notes what was read.
Result copy_out(Appliance& guest, const std::string& folder, HiveRead& read) {
    const std::string& hive = read.at.hive;
    FileFacts facts;
    Result done = guest.volume().stat(hive, facts);
    if (done.ok()) done = guest.volume().sha256(hive, read.sha256);
    if (done.ok()) done = guest.copy_out(hive, folder + "/" + split_path(hive).name);
    if (!done.ok()) return done;
    read.size = static_cast<std::int64_t>(facts.size);
    for (const auto& log : hive_logs(guest, hive))
        if (const Result copied = guest.copy_out(sibling_path(hive, log), folder + "/" + log);
            !copied.ok())
            return copied;
    return {};
}

}  // namespace

std::string stopped(const Watchdog& watchdog) {
    if (watchdog.out_of_time())
        return "the run took longer than --timeout " + std::to_string(watchdog.bound().count()) +
               " allows; the image is as it was";
    return watchdog.signalled() ? "interrupted; the image is as it was" : "";
}

void tell(const std::string& what, const std::string& line) { say(kProgram, what, line); }

int service_image(Appliance& guest, const std::string& disk, const Planned& planned,
                  const Options& options, bool headed, Watchdog& watchdog, HiveWhere& where) {
    const std::string& image = planned.image;
    where = {image, "", ""};
    const bool apply = options.mode == Mode::kApply;
    const PrivateFolder folder("image");
    if (folder.path().empty())
        return refuse(image, "cannot create a private temporary folder", watchdog);
    HiveRead read;
    progress("reading " + image);
    Result why = find_installation(guest, disk, planned.root, read.at);
    if (why.ok()) where.partition = as_alone(read.at.device, disk), where.path = read.at.hive;
    if (why.ok() && apply && hibernated(guest)) why = Result::refused(kHibernated);
    if (why.ok()) why = copy_out(guest, folder.path(), read);
    guest.unmount_all();
    if (!why.ok() || !stopped(watchdog).empty()) return refuse(image, why.message(), watchdog);

    // Messages and --json name the hive as it stands in the image; the copy is what is read.
    const HiveSource hive{image + ":" + read.at.hive,
                          folder.path() + "/" + split_path(read.at.hive).name, false};
    if (headed && !options.json && (options.mode == Mode::kReport || apply))
        std::printf("%s\n", escaped_name("== " + image + " (" + where.partition + "): " +
                                         read.at.hive).c_str());
    ImageWriteBack write_back(guest, read, options.backup, interrupting_signal());
    BoundedWriteBack bounded(write_back, image, watchdog);
    ReadOnlyImage read_only(planned.unwritable);
    return serve(kProgram, options, hive,
                 planned.drive.read_only ? static_cast<HiveSink&>(read_only) : bounded);
}

}  // namespace endpointfix::offline::image
