// A disk image's guest: the few operations the image helper needs on the filesystems in a disk
// image. One binding runs libguestfs' appliance (open_guest, in guest.cc, the only file that
// includes <guestfs.h>); tests use an in-memory one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "offline/sink/volume.h"

namespace endpointfix::offline::image {

class Guest {
public:
    virtual ~Guest() = default;

    // The guest's reason for the last call that failed, in one line, and its errno value (0
    // where it gave none).
    virtual std::string error() const = 0;
    virtual int error_code() const = 0;

    // The disks of the images, in the order they were given (/dev/sda, /dev/sdb, ...).
    virtual std::vector<std::string> disks() = 0;
    // The roots inspection recognises as Windows, each with its system folder ("/Windows").
    virtual std::vector<std::pair<std::string, std::string>> windows_roots() = 0;
    // Every filesystem of the images, by device; one disk that cannot be read keeps none of the
    // others' from the list.
    virtual std::vector<std::string> filesystems() = 0;
    // Up to `count` bytes from the start of the device `disk`, and its size in bytes: nothing
    // where they cannot be read (or the guest cannot tell).
    virtual std::optional<std::string> disk_head(const std::string&, std::size_t) { return {}; }
    virtual std::optional<std::int64_t> disk_size(const std::string&) { return {}; }
    // Mounts `device` at "/" (read-only unless `writable`), or unmounts everything.
    virtual bool mount(const std::string& device, bool writable) = 0;
    virtual void unmount_all() = 0;

    // `path` as it is spelt in the image, matched without letter case; nothing where no
    // regular file answers to it.
    virtual std::optional<std::string> file(const std::string& path) = 0;
    // What the file at `path` is (a link not followed); nothing where it cannot be told.
    virtual std::optional<FileFacts> stat(const std::string& path) = 0;
    // The names in `folder`; nothing where it cannot be listed.
    virtual std::optional<std::vector<std::string>> list(const std::string& folder) = 0;
    // Up to `count` bytes from the start of the file.
    virtual std::optional<std::string> head(const std::string& path, std::size_t count) = 0;
    virtual std::optional<std::int64_t> size(const std::string& path) = 0;
    // Lower-case hex.
    virtual std::optional<std::string> sha256(const std::string& path) = 0;

    // The extended attribute `name` of `path` (a link not followed), asked for by name: ntfs-3g
    // lists neither the security descriptor nor the file attributes. Nothing where it cannot be
    // read or is not there; error_code() says which (ENODATA: not there).
    virtual std::optional<std::string> attribute(const std::string& path,
                                                 const std::string& name) = 0;
    // The extended attributes listed for `path`, as (name, bytes); nothing where they cannot be
    // listed.
    virtual std::optional<std::vector<std::pair<std::string, std::string>>> attributes(
        const std::string& path) = 0;
    // Sets it; read it back to depend on it.
    virtual bool set_attribute(const std::string& path, const std::string& name,
                               const std::string& bytes) = 0;

    virtual bool download(const std::string& path, const std::string& local) = 0;
    // Puts the bytes of the local file `local` into the file at `path`: an existing file is
    // written over in place, keeping its attributes; a missing one is created.
    virtual bool upload(const std::string& local, const std::string& path) = 0;
    // Creates the file at `path`, empty, where it is not there.
    virtual bool touch(const std::string& path) = 0;
    virtual bool link(const std::string& target, const std::string& name) = 0;
    virtual bool rename(const std::string& from, const std::string& to) = 0;
    virtual bool remove(const std::string& path) = 0;
    // Flushes every write to the image's disk.
    virtual bool sync() = 0;
    // Flushes every write into the image files, the volumes unmounted, and leaves the guest
    // running for the next image of a batch: the changes are in the image file only where this
    // succeeds.
    virtual bool finish() = 0;
};

// What qemu-img tells of an image file without opening any backing file it names: its format
// ("raw", "qcow2", "vhdx", "vmdk", "vpc", ...) and whether it names one.
struct ImageFormat {
    std::string format;
    bool has_backing_file = false;
};

// Probes `image` (no appliance is started for it). Nothing where it cannot be told, with `why`.
std::optional<ImageFormat> probe_image(const std::string& image, std::string& why);

// An image to attach, in the format probed, named so that nothing probes it again.
struct Drive {
    std::string image;
    std::string format;
    bool read_only = false;  // attached read-only even where the appliance's drives are writable
};

// Starts one libguestfs appliance with `drives` attached in their order (read-only unless
// `writable` and the drive is not read_only). On failure returns null and sets `why` to one line: an image is locked by another
// process (a running virtual machine), or the appliance did not start (with what to try), or
// libguestfs' reason. libguestfs' own messages reach stderr only where LIBGUESTFS_DEBUG asks.
std::unique_ptr<Guest> open_guest(const std::vector<Drive>& drives, bool writable,
                                  std::string& why);

}  // namespace endpointfix::offline::image
