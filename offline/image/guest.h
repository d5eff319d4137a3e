// A disk image opened through libguestfs: the few operations the image helper needs, over the
// appliance libguestfs starts. guest.cc is the only file that includes <guestfs.h>.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace endpointfix::offline::image {

class Guest {
public:
    // Opens `image` (read-only unless `writable`) and starts the appliance. On failure returns
    // null and sets `why` to one line: the image is locked by another process (a running
    // virtual machine), or the appliance did not start (with what to try), or libguestfs'
    // reason. libguestfs' own messages reach stderr only where LIBGUESTFS_DEBUG asks for them.
    static std::unique_ptr<Guest> open(const std::string& image, bool writable, std::string& why);
    ~Guest();
    Guest(const Guest&) = delete;
    Guest& operator=(const Guest&) = delete;

    // libguestfs' reason for the last call that failed.
    std::string error() const;

    // The roots inspection recognises as Windows, each with its system folder ("/Windows").
    std::vector<std::pair<std::string, std::string>> windows_roots();
    // Every filesystem of the image, by device.
    std::vector<std::string> filesystems();
    // Mounts `device` at "/" (read-only unless `writable`), or unmounts everything.
    bool mount(const std::string& device, bool writable);
    void unmount_all();

    // `path` as it is spelt in the image, matched without letter case; nothing where no
    // regular file answers to it.
    std::optional<std::string> file(const std::string& path);
    std::vector<std::string> list(const std::string& folder);
    // Up to `count` bytes from the start of the file.
    std::optional<std::string> head(const std::string& path, std::size_t count);
    std::optional<std::int64_t> size(const std::string& path);
    std::optional<std::string> sha256(const std::string& path);

    // The extended attribute `name` of `path` (a link not followed), asked for by name: ntfs-3g
    // lists neither the security descriptor nor the file attributes. Nothing where it cannot be
    // read or is not there; error() says which.
    std::optional<std::string> attribute(const std::string& path, const std::string& name);
    // The extended attributes listed for `path`, as (name, bytes); nothing where they cannot be
    // listed.
    std::optional<std::vector<std::pair<std::string, std::string>>> attributes(
        const std::string& path);
    // Sets it, in the appliance (see guest.cc); read it back to depend on it.
    bool set_attribute(const std::string& path, const std::string& name, const std::string& bytes);

    bool download(const std::string& path, const std::string& local);
    bool upload(const std::string& local, const std::string& path);
    bool link(const std::string& target, const std::string& name);
    bool rename(const std::string& from, const std::string& to);
    bool remove(const std::string& path);
    // Flushes every write to the image and stops the appliance: the changes are in the image
    // file only where this succeeds.
    bool finish();

private:
    struct Handle;
    explicit Guest(Handle* handle);
    Handle* handle_;
};

}  // namespace endpointfix::offline::image
