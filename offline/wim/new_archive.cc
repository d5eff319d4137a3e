#include "offline/wim/new_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "offline/load/path_parts.h"

namespace endpointfix::offline::wim {

Result write_new_archive(Archive& archive, const std::string& beside, NewHive& written,
                         const volatile std::sig_atomic_t& interrupted) {
    // ".NAME.endpointfix-XXXXXX": offline/sink/replace.h's leftovers, removed by the next run.
    // Built in appends, which GCC 12's optimiser does not mistake for an overlapping copy.
    std::string leaf = ".";
    leaf += split_path(beside).name;
    leaf += ".endpointfix-XXXXXX";
    std::string name = sibling_path(beside, leaf);
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return failed("cannot create the new WIM beside it", errno);
    if (unlink(name.c_str()) != 0) {
        const Result why = failed("cannot create the new WIM beside it", errno);
        close(fd);
        return why;
    }
    Result result = archive.write_to(fd, interrupted);
    struct stat facts;
    if (result.ok() && fstat(fd, &facts) != 0) result = failed("cannot read the new WIM's size", errno);
    if (!result.ok()) {
        close(fd);
        return result;
    }
    written = {fd, static_cast<std::uint64_t>(facts.st_size)};
    return {};
}

}  // namespace endpointfix::offline::wim
