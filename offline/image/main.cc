// endpointfix-offline-image: endpointfix-offline's modes over the SOFTWARE hive inside a disk
// image, through libguestfs. Started by `endpointfix-offline --image IMAGE` with the user's
// arguments, which it reads with the same parser. The hive and its logs are copied out of the
// image into a private folder, and serviced there by the offline service itself, named as they
// stand in the image; for --apply, the new hive is written back into the image.
#include <csignal>
#include <cstdio>
#include <string>

#include "check/check.h"
#include "check/escaped_name.h"
#include "offline/image/find_hive.h"
#include "offline/image/image_file.h"
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
std::string copy_out(Guest& guest, const std::string& folder, HiveRead& read) {
    const std::string& hive = read.at.hive;
    const auto size = guest.size(hive);
    const auto sum = guest.sha256(hive);
    if (!size || !sum || !guest.download(hive, folder + "/" + split_path(hive).name))
        return "cannot copy " + hive + " out: " + guest.error();
    read.size = *size, read.sha256 = *sum;
    for (const auto& log : hive_logs(guest, hive))
        if (!guest.download(sibling_path(hive, log), folder + "/" + log))
            return "cannot copy " + log + " out: " + guest.error();
    return "";
}

int service(const Options& options) {
    const std::string& image = options.image;
    const bool apply = options.mode == Mode::kApply;
    if (const std::string why = unusable_image(image); !why.empty()) return refuse(image, why);
    const PrivateFolder folder;
    if (folder.path().empty()) return refuse(image, "cannot create a private temporary folder");
    HiveRead read;
    {
        std::string why;
        const auto guest = open_guest(image, false, why);
        if (interrupted()) return kBlockedOrUnreadable;
        if (!guest) return refuse(image, why);
        why = find_installation(*guest, options.root, read.at);
        if (why.empty() && apply && hibernated(*guest)) why = kHibernated;
        if (why.empty() && options.backup && guest->file(read.at.hive + ".bak"))
            why = read.at.hive + ".bak is there already";
        if (why.empty()) why = copy_out(*guest, folder.path(), read);
        if (!why.empty()) return refuse(image, why);
    }
    if (interrupted()) return kBlockedOrUnreadable;

    // Messages and --json name the hive as it stands in the image; the copy is what is read.
    const HiveSource hive{image + ":" + read.at.hive,
                          folder.path() + "/" + split_path(read.at.hive).name, false};
    ImageWriteBack sink(image, read, options.backup, interrupting_signal(),
                        [&](const std::string& note) { tell(hive.label(), note); });
    bool wrote = false;
    return serve(kProgram, options, hive, sink, wrote);
}

}  // namespace

int main(int argc, char** argv) {
    if (!open_standard_streams()) return kBlockedOrUnreadable;
    Options options;
    std::string error = parse_options(argc, argv, options);
    if (options.image.empty())
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
