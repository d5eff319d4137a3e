#include "offline/image/guest_volume.h"

#include <sys/stat.h>

#include <cerrno>
#include <utility>

namespace endpointfix::offline::image {

Result GuestVolume::failed_to(const std::string& what) const {
    const int code = guest_.error_code();
    return Result(code != 0 ? code : Result::kRefused, what + ": " + guest_.error());
}

Result GuestVolume::synced() {
    return guest_.sync() ? Result() : failed_to("cannot flush the image");
}

Result GuestVolume::stat(const std::string& path, FileFacts& facts) {
    const auto found = guest_.stat(path);
    if (!found) return failed_to("cannot stat " + path);
    facts = *found;
    return {};
}

Result GuestVolume::list(const std::string& folder, std::vector<std::string>& names) {
    auto listed = guest_.list(folder);
    if (!listed) return failed_to("cannot list " + folder);
    names = std::move(*listed);
    return {};
}

Result GuestVolume::create(const std::string& path) {
    if (guest_.stat(path)) return Result(EEXIST, "cannot create " + path + ": it exists");
    if (guest_.error_code() != ENOENT) return failed_to("cannot create " + path);
    return guest_.touch(path) ? Result() : failed_to("cannot create " + path);
}

Result GuestVolume::list_attributes(const std::string& path, std::vector<std::string>& names) {
    const auto listed = guest_.attributes(path);
    if (!listed) return failed_to("cannot list the extended attributes of " + path);
    names.clear();
    for (const auto& [name, bytes] : *listed) names.push_back(name);
    return {};
}

Result GuestVolume::attribute(const std::string& path, const std::string& name,
                              std::optional<std::string>& value) {
    value = guest_.attribute(path, name);
    if (value || guest_.error_code() == ENODATA) return {};
    return failed_to("cannot read " + name + " of " + path);
}

Result GuestVolume::set_attribute(const std::string& path, const std::string& name,
                                  const std::string& value) {
    return guest_.set_attribute(path, name, value) ? Result()
                                                   : failed_to("cannot set " + name + " of " + path);
}

Result GuestVolume::remove_attribute(const std::string& path, const std::string& name) {
    return Result::refused("cannot remove " + name + " of " + path);
}

Result GuestVolume::write(const std::string& path, int from, std::uint64_t size) {
    struct stat local;
    if (fstat(from, &local) != 0) return failed("cannot read the new hive", errno);
    if (static_cast<std::uint64_t>(local.st_size) != size)
        return Result::refused("the new hive is not the size it was made");
    return guest_.upload("/proc/self/fd/" + std::to_string(from), path)
               ? Result()
               : failed_to("cannot write the new hive into the image");
}

Result GuestVolume::sha256(const std::string& path, std::string& digest) {
    const auto sum = guest_.sha256(path);
    if (!sum) return failed_to("cannot read back " + path);
    digest = *sum;
    return {};
}

Result GuestVolume::link(const std::string& existing, const std::string& name) {
    return guest_.link(existing, name) ? Result() : failed_to("cannot link " + name);
}

Result GuestVolume::rename(const std::string& from, const std::string& to) {
    return guest_.rename(from, to) ? Result() : failed_to("cannot rename " + from + " to " + to);
}

Result GuestVolume::remove(const std::string& path) {
    return guest_.remove(path) ? Result() : failed_to("cannot remove " + path);
}

}  // namespace endpointfix::offline::image
