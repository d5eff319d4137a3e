#include "offline/image/progress.h"

#include <fcntl.h>
#include <unistd.h>

#include "check/escaped_name.h"

namespace endpointfix::offline::image {
namespace {

int g_told = -1;  // a descriptor of stderr as it was at the start, or -1: not told

}  // namespace

void start_progress(bool asked) {
    if (g_told < 0 && (asked || isatty(2) == 1)) g_told = fcntl(2, F_DUPFD_CLOEXEC, 3);
}

void progress(const std::string& what) {
    if (g_told < 0) return;
    const std::string line = "endpointfix-offline: " + escaped_name(what) + "\n";
    // A line lost to a full pipe costs nothing the run needs.
    (void)!write(g_told, line.data(), line.size());
}

}  // namespace endpointfix::offline::image
