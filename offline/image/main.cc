// endpointfix-offline-image: endpointfix-offline's modes over the SOFTWARE hive inside a disk
// image, through libguestfs. Started by `endpointfix-offline --image IMAGE` as
//   endpointfix-offline-image PROGRAM ARGS...
// where PROGRAM is that endpointfix-offline and ARGS its own arguments, checked by it. The hive
// and its logs are copied out of the image, PROGRAM services the copy with the same mode
// options, and for --apply the copy, where changed, is written back.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check/text.h"
#include "offline/hive_file.h"
#include "offline/image/find_hive.h"
#include "offline/image/image_file.h"
#include "offline/image/inner_run.h"
#include "offline/image/write_back.h"
#include "offline/path_parts.h"
#include "offline/std_streams.h"

namespace {

using namespace endpointfix::offline;
using namespace endpointfix::offline::image;

volatile std::sig_atomic_t g_signal = 0;
void note_signal(int signal) { g_signal = signal; }

struct Request {
    std::string program, image, root;
    bool apply = false, backup = false;
    std::vector<std::string> passed;  // the mode options, for PROGRAM's run on the copy
};

Request parse(int argc, char** argv) {
    Request request{argv[1], "", "", false, false, {}};
    bool options = true;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = i + 1 < argc && options;
        if (valued && arg == "--image")
            request.image = argv[++i];
        else if (valued && arg == "--root")
            request.root = argv[++i];
        else if (options && arg == "--backup")
            request.backup = true;  // kept in the image, not beside the copy
        else {
            if (options && arg == "--apply") request.apply = true;
            if (arg == "--") options = false;
            request.passed.push_back(arg);
            // The options of endpointfix-offline that take a value, passed with it.
            if (valued && arg == "--recover") request.passed.push_back(argv[++i]);
        }
    }
    return request;
}

int refuse(const std::string& what, const std::string& why) {
    std::fprintf(stderr, "endpointfix-offline: %s\n",
                 endpointfix::escaped_name(what + ": " + why).c_str());
    return 2;
}

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

int service(const Request& request) {
    if (const std::string why = unusable_image(request.image); !why.empty())
        return refuse(request.image, why);
    const PrivateFolder folder;
    if (folder.path().empty())
        return refuse(request.image, "cannot create a private temporary folder");
    HiveRead read;
    {
        std::string why;
        const auto guest = Guest::open(request.image, false, why);
        if (g_signal != 0) return 128 + g_signal;
        if (!guest) return refuse(request.image, why);
        why = find_installation(*guest, request.root, read.at);
        if (why.empty() && request.apply && hibernated(*guest)) why = kHibernated;
        if (why.empty() && request.backup && guest->file(read.at.hive + ".bak"))
            why = read.at.hive + ".bak is there already";
        if (why.empty()) why = copy_out(*guest, folder.path(), read);
        if (!why.empty()) return refuse(request.image, why);
    }
    if (g_signal != 0) return 128 + g_signal;

    const std::string copy = folder.path() + "/" + split_path(read.at.hive).name;
    const std::string shown = request.image + ":" + sibling_path(read.at.hive, "");
    // --json names the hive it read: the output is held, to name it as it stands in the image.
    const bool json =
        std::find(request.passed.begin(), request.passed.end(), "--json") != request.passed.end();
    const int out = request.apply || json ? open((folder.path() + "/.report").c_str(),
                                                 O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600)
                                          : STDOUT_FILENO;
    if (out < 0) return refuse(request.image, "cannot hold the report");
    struct stat before, after;
    stat(copy.c_str(), &before);
    const int status =
        run_offline(request.program, request.passed, copy, out, folder.path() + "/", shown);
    if (!request.apply)
        return json ? print_held(out, folder.path() + "/", json_text(shown), status) : status;
    // The offline program replaces a hive it changes, and leaves one it does not change alone.
    const bool changed = stat(copy.c_str(), &after) == 0 && after.st_ino != before.st_ino;
    if (changed) {
        // Interrupted before the write-back: the held report tells of changes the image lacks.
        if (g_signal != 0) return close(out), 128 + g_signal;
        const int fd = open(copy.c_str(), O_RDONLY | O_CLOEXEC);
        const HiveFileState state = inspect_hive_file(fd);
        close(fd);
        const std::string why = !state.damage.empty()
                                    ? "the new hive " + state.damage
                                    : write_back(request.image, read, copy, request.backup,
                                                 "." + split_path(folder.path()).name, g_signal);
        if (!why.empty()) return close(out), refuse(request.image, why);
    }
    const int printed =
        print_held(out, folder.path() + "/", json ? json_text(shown) : shown, status);
    if (changed && g_signal != 0) {
        // Too late to stop: the image holds the changes, and the run ends as one that made them.
        std::fprintf(stderr,
                     "endpointfix-offline: %s: interrupted after the new hive was written back; "
                     "the image holds the changes\n",
                     request.image.c_str());
        g_signal = 0;
    }
    return g_signal != 0 ? 128 + g_signal : printed;
}

}  // namespace

int main(int argc, char** argv) {
    if (!open_standard_streams()) return 2;
    if (argc < 2) {
        std::fputs(
            "usage: endpointfix-offline --image IMAGE [...]: this program is started by "
            "endpointfix-offline\n",
            stderr);
        return 3;
    }
    std::signal(SIGPIPE, SIG_IGN);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, note_signal);
    const int status = service(parse(argc, argv));
    // Everything is removed by now; the signal ends this program as it would have.
    if (g_signal != 0) {
        std::signal(g_signal, SIG_DFL);
        std::raise(g_signal);
    }
    return status;
}
