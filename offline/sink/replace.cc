#include "offline/sink/replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "offline/sink/file_security.h"
#include "offline/sink/held_signals.h"
#include "offline/sink/hive_sink.h"
#include "offline/load/path_parts.h"

namespace endpointfix::offline {
namespace {

std::string failed(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

// The new file, flushed, with the old one's mode, owner and security, and as `verify` wants it.
// The security comes last: a change of owner or mode may rewrite an ACL.
std::string finish_new_file(const char* temp, const std::string& path, const struct stat& old,
                            const std::function<std::string(int)>& verify) {
    const int fd = open(temp, O_RDWR | O_CLOEXEC);
    if (fd < 0) return failed("cannot reopen the new hive", errno);
    std::string why;
    if (fchown(fd, old.st_uid, old.st_gid) != 0) why = failed("cannot keep the owner", errno);
    if (why.empty() && fchmod(fd, old.st_mode & 07777) != 0)
        why = failed("cannot keep the mode", errno);
    if (why.empty()) why = copy_security(path, fd);
    if (why.empty() && fsync(fd) != 0) why = failed("cannot flush the new hive", errno);
    if (why.empty()) why = verify(fd);
    close(fd);
    return why;
}

}  // namespace

std::string replace_file(const std::string& path, bool backup,
                         const std::function<int(const char*)>& write,
                         const std::function<std::string(int fd)>& verify, bool& replaced) {
    replaced = false;
    struct stat old;
    const auto untouched = [](const std::string& why) { return why + "; the hive is as it was"; };
    if (stat(path.c_str(), &old) != 0) return untouched(failed("cannot stat the hive", errno));
    const PathParts parts = split_path(path);
    const std::string bak = path + ".bak";
    std::string temp = sibling_path(path, "." + parts.name + ".endpointfix-XXXXXX");

    const HeldSignals held;
    const int fd = mkstemp(temp.data());
    if (fd < 0) return untouched(failed("cannot create a file beside the hive", errno));
    close(fd);
    std::string why;
    if (const int error = write(temp.c_str()); error != 0)
        why = failed("cannot write the new hive", error);
    if (why.empty()) why = finish_new_file(temp.c_str(), path, old, verify);
    bool linked = false;
    if (why.empty() && backup) {
        linked = link(path.c_str(), bak.c_str()) == 0;
        if (!linked) why = failed(("cannot keep the backup " + bak).c_str(), errno);
    }
    if (why.empty() && rename(temp.c_str(), path.c_str()) != 0)
        why = failed("cannot replace the hive", errno);
    if (!why.empty()) {
        unlink(temp.c_str());
        if (linked) unlink(bak.c_str());
        return untouched(why);
    }
    replaced = true;
    // The rename is done; flushing the folder makes it last through a power cut.
    const int dir = open(parts.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = dir >= 0 && fsync(dir) == 0;
    if (dir >= 0) close(dir);
    return synced ? "" : failed("replaced the hive, but cannot flush its folder", errno);
}

SinkResult FileSink::put(const std::function<int(const char*)>& write,
                         const std::function<std::string(int fd)>& verify) {
    SinkResult result;
    result.why = replace_file(path_, backup_, write, verify, result.wrote);
    return result;
}

std::string create_file(const std::string& path, const std::function<int(int fd)>& write) {
    const PathParts parts = split_path(path);
    std::string temp = sibling_path(path, "." + parts.name + ".endpointfix-XXXXXX");
    const HeldSignals held;
    const int fd = mkstemp(temp.data());
    if (fd < 0) return failed("cannot create a file beside it", errno);
    const mode_t mask = umask(0);
    umask(mask);
    std::string why;
    if (const int error = write(fd); error != 0) why = failed("cannot write it", error);
    if (why.empty() && fchmod(fd, 0666 & ~mask) != 0) why = failed("cannot set its mode", errno);
    if (why.empty() && fsync(fd) != 0) why = failed("cannot flush it", errno);
    close(fd);
    if (why.empty() && link(temp.c_str(), path.c_str()) != 0)
        why = errno == EEXIST ? "exists already, and is not overwritten"
                              : failed("cannot create it", errno);
    unlink(temp.c_str());
    if (!why.empty()) return why;
    const int dir = open(parts.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = dir >= 0 && fsync(dir) == 0;
    if (dir >= 0) close(dir);
    return synced ? "" : failed("created, but cannot flush its folder", errno);
}

}  // namespace endpointfix::offline
