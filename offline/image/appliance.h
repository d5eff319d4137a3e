// What only libguestfs' appliance does for the image helper: its disks, finding filesystems and
// Windows on them, mounting one, copying a file out, and flushing the writes into the images.
// The files of the filesystem mounted are reached through its Volume (offline/sink/volume.h),
// the one file interface. One binding runs the appliance (open_guest, offline/image/guest.h);
// tests use one in memory (tests/fake_appliance.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "offline/sink/volume.h"

namespace endpointfix::offline::image {

class Appliance {
public:
    virtual ~Appliance() = default;

    // The filesystem mounted at "/", as a Volume; its calls fail while none is mounted, and
    // those that write while it is mounted read-only.
    virtual Volume& volume() = 0;

    // The disks of the images, in the order they were given (/dev/sda, /dev/sdb, ...).
    virtual Result disks(std::vector<std::string>& disks) = 0;
    // The roots inspection recognises as Windows, each with its system folder ("/Windows").
    virtual Result windows_roots(std::vector<std::pair<std::string, std::string>>& roots) = 0;
    // Every filesystem of the images, by device; one disk that cannot be read keeps none of the
    // others' from the list.
    virtual Result filesystems(std::vector<std::string>& devices) = 0;
    // Up to `count` bytes from the start of the device `disk`, and its size in bytes.
    virtual Result disk_head(const std::string& disk, std::size_t count, std::string& bytes) = 0;
    virtual Result disk_size(const std::string& disk, std::uint64_t& bytes) = 0;
    // Mounts `device` at "/" (read-only unless `writable`, which the drive must allow).
    virtual Result mount(const std::string& device, bool writable) = 0;
    virtual void unmount_all() = 0;

    // `path` as it is spelt in the mounted filesystem, matched without letter case; ENOENT where
    // no regular file answers to it.
    virtual Result find_file(const std::string& path, std::string& spelt) = 0;
    // Up to `count` bytes from the start of the file at `path`.
    virtual Result head(const std::string& path, std::size_t count, std::string& bytes) = 0;
    // Copies the file at `path` to the local file `local`.
    virtual Result copy_out(const std::string& path, const std::string& local) = 0;
    // Flushes every write into the image files, the volumes unmounted, and leaves the appliance
    // running for the next image of a batch: the changes are in the image file only where this
    // succeeds.
    virtual Result finish() = 0;
};

}  // namespace endpointfix::offline::image
