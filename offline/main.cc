// endpointfix-offline: the check, and the run itself, over the SOFTWARE hive file of a Windows
// installation that is not running, from Linux. The same run sequence, walk, rules and report
// as on Windows, over HiveStore; what is different here is the care a hive file needs.
#include <csignal>
#include <cstdio>
#include <string>

#include "offline/image_launch.h"
#include "offline/interrupts.h"
#include "offline/options.h"
#include "offline/service.h"
#include "offline/sink/file_sink.h"
#include "offline/std_streams.h"
#include "offline/wim/wim_header.h"

int main(int argc, char** argv) {
    using namespace endpointfix;
    if (!offline::open_standard_streams()) return kBlockedOrUnreadable;
    // A closed pipe is an output failure, told by the status, not a reason to die half way.
    std::signal(SIGPIPE, SIG_IGN);
    offline::Options options;
    if (const Result usage = offline::parse_options(argc, argv, options); !usage.ok()) {
        std::fprintf(stderr, "endpointfix-offline: %s\n%s", usage.message().c_str(),
                     offline::kUsageText);
        return kUsage;
    }
    if (options.help || options.version) {
        if (options.help) std::fputs(offline::kUsageText, stdout);
        if (options.version) std::puts("endpointfix-offline " ENDPOINTFIX_VERSION);
        return std::fflush(stdout) == 0 ? 0 : kOutputFailed;
    }
    if (!options.images.empty()) {
        // A WIM is known by its header, whatever its name; one run serves WIMs or disk images.
        std::size_t wims = 0;
        for (const std::string& image : options.images) wims += offline::wim::is_wim_file(image);
        if (wims != 0 && wims != options.images.size()) {
            std::fprintf(stderr, "endpointfix-offline: WIMs and disk images go in runs of their own\n%s",
                         offline::kUsageText);
            return kUsage;
        }
        if (wims == 0 && !options.editions.empty()) {
            std::fprintf(stderr, "endpointfix-offline: --edition goes only with a WIM\n%s",
                         offline::kUsageText);
            return kUsage;
        }
        return offline::start_image_helper(argv, wims != 0);
    }
    const offline::HiveSource hive = offline::resolve_hive_path(options.hive);
    // --apply stops where it can stop whole; the other modes write nothing that a signal could
    // leave half done, and end at once.
    if (options.mode == offline::Mode::kApply) offline::note_interrupts();
    offline::FileSink sink(hive.file, options.backup, offline::interrupting_signal());
    return offline::end_by_interrupt(offline::serve("endpointfix-offline", options, hive, sink));
}
