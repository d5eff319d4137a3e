#include "offline/sink/file_security.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace endpointfix::offline {
namespace {

constexpr char kNtfsSecurity[] = "system.ntfs_acl";

struct Attribute {
    std::string name, value;
};

std::string failed(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// Whether an error of a read says the attribute, or attributes at all, are not there.
bool absent(int error) { return error == ENODATA || error == ENOTSUP; }

// The value of the attribute `name` of the file at `path`, or of the file open at `fd` where
// `path` is null: 0 with `value` set, ENODATA where there is none, or an errno value.
int read_attribute(const char* path, int fd, const std::string& name, std::string& value) {
    for (int tries = 0; tries < 4; ++tries) {  // the value may grow between the two calls
        const ssize_t size = path ? getxattr(path, name.c_str(), nullptr, 0)
                                  : fgetxattr(fd, name.c_str(), nullptr, 0);
        if (size < 0) return errno == ENOTSUP ? ENODATA : errno;
        value.assign(static_cast<std::size_t>(size), '\0');
        const ssize_t got = path ? getxattr(path, name.c_str(), value.data(), value.size())
                                 : fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (got >= 0) return value.resize(static_cast<std::size_t>(got)), 0;
        if (errno != ERANGE) return errno;
    }
    return ERANGE;
}

// The names the listing of the file at `path` shows, or an errno value.
int list_attributes(const char* path, std::vector<std::string>& names) {
    std::string list;
    for (int tries = 0;; ++tries) {
        const ssize_t size = listxattr(path, nullptr, 0);
        if (size < 0) return absent(errno) ? 0 : errno;
        list.assign(static_cast<std::size_t>(size), '\0');
        const ssize_t got = listxattr(path, list.data(), list.size());
        if (got >= 0) {
            list.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE || tries == 3) return errno;
    }
    for (std::size_t at = 0; at < list.size(); at = list.find('\0', at) + 1)
        names.emplace_back(list.c_str() + at);
    return 0;
}

}  // namespace

std::string copy_security(const std::string& from, int to) {
    std::vector<std::string> names;
    if (const int error = list_attributes(from.c_str(), names); error != 0)
        return failed("cannot list the hive's extended attributes", error);
    names.push_back(kNtfsSecurity);
    std::vector<Attribute> kept;
    for (const auto& name : names) {
        std::string value;
        const int error = read_attribute(from.c_str(), -1, name, value);
        if (error == ENODATA) continue;  // the security descriptor, where ntfs-3g is not below
        if (error != 0) return failed("cannot read the hive's attribute " + name, error);
        kept.push_back({name, std::move(value)});
    }
    for (const auto& [name, value] : kept)
        if (fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0)
            return failed("cannot give the new hive the old one's attribute " + name, errno);
    // Read back once all are set: setting one may change another (an ACL, the mode bits).
    for (const auto& [name, value] : kept) {
        std::string now;
        const int error = read_attribute(nullptr, to, name, now);
        if (error != 0) return failed("cannot read back the new hive's attribute " + name, error);
        if (now != value) return "the new hive's attribute " + name + " does not read back as set";
    }
    return "";
}

}  // namespace endpointfix::offline
