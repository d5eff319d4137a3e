#include "offline/image/guest.h"
#include "offline/image/image_file.h"
#include "offline/image/attribute_shell.h"

#include <guestfs.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace endpointfix::offline::image {

namespace {

// Takes a string libguestfs allocated.
std::optional<std::string> owned(char* text) {
    if (text == nullptr) return std::nullopt;
    std::string kept = text;
    std::free(text);
    return kept;
}

// Takes bytes libguestfs allocated.
std::optional<std::string> owned(char* bytes, std::size_t size) {
    std::optional<std::string> kept;
    if (bytes != nullptr) kept.emplace(bytes, size);
    std::free(bytes);
    return kept;
}

std::vector<std::string> owned_list(char** list) {
    std::vector<std::string> kept;
    if (list == nullptr) return kept;
    for (char** item = list; *item != nullptr; ++item) {
        kept.emplace_back(*item);
        std::free(*item);
    }
    std::free(list);
    return kept;
}

void keep_message(guestfs_h*, void* opaque, std::uint64_t, int, int, const char* text,
                  std::size_t length, const std::uint64_t*, std::size_t) {
    if (text != nullptr) static_cast<std::string*>(opaque)->append(text, length);
}

// The first line of libguestfs' last error: the rest is its advice on debugging, which the
// messages kept give.
std::string last_error(guestfs_h* g) {
    const char* last = guestfs_last_error(g);
    std::string text = last != nullptr ? last : "unknown error";
    text.erase(std::min(text.find('\n'), text.size()));
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    return text;
}

bool debugging() {
    const char* debug = std::getenv("LIBGUESTFS_DEBUG");
    return debug != nullptr && *debug != '\0' && std::strcmp(debug, "0") != 0;
}

// The guest of libguestfs' appliance.
class ApplianceGuest final : public Guest {
public:
    explicit ApplianceGuest(guestfs_h* g) : g_(g) {}
    ~ApplianceGuest() override { guestfs_close(g_); }
    ApplianceGuest(const ApplianceGuest&) = delete;
    ApplianceGuest& operator=(const ApplianceGuest&) = delete;

    // libguestfs' and QEMU's messages, kept to tell why a start failed.
    std::string messages;

    std::string error() const override { return last_error(g_); }
    int error_code() const override { return guestfs_last_errno(g_); }
    std::vector<std::string> disks() override { return owned_list(guestfs_list_devices(g_)); }
    std::vector<std::pair<std::string, std::string>> windows_roots() override;
    std::vector<std::string> filesystems() override;
    std::optional<std::string> disk_head(const std::string& disk, std::size_t count) override {
        std::size_t got = 0;
        char* bytes = guestfs_pread_device(g_, disk.c_str(), static_cast<int>(count), 0, &got);
        return owned(bytes, got);
    }
    std::optional<std::int64_t> disk_size(const std::string& disk) override {
        const std::int64_t bytes = guestfs_blockdev_getsize64(g_, disk.c_str());
        if (bytes < 0) return std::nullopt;
        return bytes;
    }
    bool mount(const std::string& device, bool writable) override {
        return (writable ? guestfs_mount(g_, device.c_str(), "/")
                         : guestfs_mount_ro(g_, device.c_str(), "/")) == 0;
    }
    void unmount_all() override { guestfs_umount_all(g_); }
    std::optional<std::string> file(const std::string& path) override {
        auto real = owned(guestfs_case_sensitive_path(g_, path.c_str()));
        if (!real || guestfs_is_file(g_, real->c_str()) != 1) return std::nullopt;
        return real;
    }
    std::optional<FileFacts> stat(const std::string& path) override;
    std::optional<std::vector<std::string>> list(const std::string& folder) override {
        char** names = guestfs_ls(g_, folder.c_str());
        if (names == nullptr) return std::nullopt;
        return owned_list(names);
    }
    std::optional<std::string> head(const std::string& path, std::size_t count) override {
        std::size_t got = 0;
        char* bytes = guestfs_pread(g_, path.c_str(), static_cast<int>(count), 0, &got);
        return owned(bytes, got);
    }
    std::optional<std::int64_t> size(const std::string& path) override {
        const std::int64_t bytes = guestfs_filesize(g_, path.c_str());
        if (bytes < 0) return std::nullopt;
        return bytes;
    }
    std::optional<std::string> sha256(const std::string& path) override {
        return owned(guestfs_checksum(g_, "sha256", path.c_str()));
    }
    std::optional<std::string> attribute(const std::string& path, const std::string& name) override;
    std::optional<std::vector<std::pair<std::string, std::string>>> attributes(
        const std::string& path) override;
    bool set_attribute(const std::string& path, const std::string& name,
                       const std::string& bytes) override;
    bool download(const std::string& path, const std::string& local) override {
        return guestfs_download(g_, path.c_str(), local.c_str()) == 0;
    }
    bool upload(const std::string& local, const std::string& path) override {
        return guestfs_upload(g_, local.c_str(), path.c_str()) == 0;
    }
    bool touch(const std::string& path) override { return guestfs_touch(g_, path.c_str()) == 0; }
    bool link(const std::string& target, const std::string& name) override {
        return guestfs_ln(g_, target.c_str(), name.c_str()) == 0;
    }
    bool rename(const std::string& from, const std::string& to) override {
        return guestfs_rename(g_, from.c_str(), to.c_str()) == 0;
    }
    bool remove(const std::string& path) override { return guestfs_rm(g_, path.c_str()) == 0; }
    bool sync() override { return guestfs_sync(g_) == 0; }
    bool finish() override {
        return guestfs_sync(g_) == 0 && guestfs_umount_all(g_) == 0 && guestfs_sync(g_) == 0;
    }

private:
    guestfs_h* g_;
    // Inspection reads every disk attached: done once a start, for all the images.
    std::optional<std::vector<std::pair<std::string, std::string>>> windows_;
    std::optional<std::vector<std::string>> filesystems_;
};

std::vector<std::pair<std::string, std::string>> ApplianceGuest::windows_roots() {
    if (windows_) return *windows_;
    auto& windows = windows_.emplace();
    for (const auto& root : owned_list(guestfs_inspect_os(g_)))
        if (owned(guestfs_inspect_get_type(g_, root.c_str())) == "windows")
            windows.emplace_back(
                root, owned(guestfs_inspect_get_windows_systemroot(g_, root.c_str()))
                          .value_or("/Windows"));
    return windows;
}

// Device by device: libguestfs' list of filesystems fails whole where one disk's partition table
// does (a disk cut short), and would take every other image's filesystems with it.
std::vector<std::string> ApplianceGuest::filesystems() {
    if (filesystems_) return *filesystems_;
    auto& devices = filesystems_.emplace();
    std::vector<std::string> all = owned_list(guestfs_list_devices(g_));
    for (auto& partition : owned_list(guestfs_list_partitions(g_))) all.push_back(std::move(partition));
    for (const auto& device : all) {
        const auto type = owned(guestfs_vfs_type(g_, device.c_str()));
        if (type && !type->empty() && *type != "swap" && *type != "unknown") devices.push_back(device);
    }
    return devices;
}

std::optional<FileFacts> ApplianceGuest::stat(const std::string& path) {
    struct guestfs_statns* st = guestfs_lstatns(g_, path.c_str());
    if (st == nullptr) return std::nullopt;
    FileFacts facts;
    facts.regular = S_ISREG(st->st_mode);
    facts.size = static_cast<std::uint64_t>(st->st_size);
    facts.links = static_cast<std::uint64_t>(st->st_nlink);
    facts.owner = static_cast<unsigned>(st->st_uid), facts.group = static_cast<unsigned>(st->st_gid);
    facts.mode = static_cast<unsigned>(st->st_mode & 07777);
    guestfs_free_statns(st);
    return facts;
}

std::optional<std::vector<std::pair<std::string, std::string>>> ApplianceGuest::attributes(
    const std::string& path) {
    guestfs_xattr_list* list = guestfs_lgetxattrs(g_, path.c_str());
    if (list == nullptr) return std::nullopt;
    std::vector<std::pair<std::string, std::string>> kept;
    for (std::uint32_t i = 0; i < list->len; ++i)
        kept.emplace_back(list->val[i].attrname,
                          std::string(list->val[i].attrval, list->val[i].attrval_len));
    guestfs_free_xattr_list(list);
    return kept;
}

// Where libguestfs' own call fails but for a missing attribute, the appliance's getfattr; where
// that reads nothing either, error() is the first call's.
std::optional<std::string> ApplianceGuest::attribute(const std::string& path,
                                                     const std::string& name) {
    std::size_t got = 0;
    char* read = guestfs_lgetxattr(g_, path.c_str(), name.c_str(), &got);  // sets `got` first
    if (auto bytes = owned(read, got)) return bytes;
    if (guestfs_last_errno(g_) == ENODATA) return std::nullopt;
    std::string command = getfattr_command(path, name);
    char* args[] = {command.data(), nullptr};
    const auto printed = owned(guestfs_debug(g_, "sh", args));
    return printed ? getfattr_value(*printed, name) : std::nullopt;
}

// guestfs_lsetxattr sends its value as a string, cut at the first NUL byte (a security
// descriptor holds many), and the daemon then reads past it: so setfattr, in the appliance.
bool ApplianceGuest::set_attribute(const std::string& path, const std::string& name,
                                   const std::string& bytes) {
    std::string command = setfattr_command(path, name, bytes);
    char* args[] = {command.data(), nullptr};
    return owned(guestfs_debug(g_, "sh", args)).has_value();
}

}  // namespace

std::optional<ImageFormat> probe_image(const std::string& image, std::string& why) {
    guestfs_h* g = guestfs_create();
    if (g == nullptr) {
        why = "cannot create a libguestfs handle";
        return std::nullopt;
    }
    guestfs_set_error_handler(g, nullptr, nullptr);
    // Both ask qemu-img on this machine, which opens no backing file for them.
    std::optional<ImageFormat> probed;
    const auto format = owned(guestfs_disk_format(g, image.c_str()));
    const int backing = format ? guestfs_disk_has_backing_file(g, image.c_str()) : -1;
    if (format && backing >= 0)
        probed = ImageFormat{*format, backing == 1};
    else
        why = "cannot be read as a disk image: " + last_error(g);
    guestfs_close(g);
    return probed;
}

std::unique_ptr<Guest> open_guest(const std::vector<Drive>& drives, bool writable,
                                  std::string& why) {
    guestfs_h* g = guestfs_create();
    if (g == nullptr) {
        why = "cannot create a libguestfs handle";
        return nullptr;
    }
    auto guest = std::make_unique<ApplianceGuest>(g);
    if (!debugging()) {
        // Errors are told by this program, in one line; the rest is kept for the diagnosis.
        guestfs_set_error_handler(g, nullptr, nullptr);
        guestfs_set_event_callback(
            g, keep_message,
            GUESTFS_EVENT_APPLIANCE | GUESTFS_EVENT_LIBRARY | GUESTFS_EVENT_WARNING, 0,
            &guest->messages);
    }
    // Its own process group, so that an interrupt from the terminal reaches this program, which
    // ends the appliance itself, and never QEMU in the middle of a write.
    guestfs_set_pgroup(g, 1);
    const bool direct = owned(guestfs_get_backend(g)) == "direct";
    for (const Drive& drive : drives) {
        // The format probed, named: QEMU then probes nothing, and keeps a raw image from writing
        // its first sector.
        struct guestfs_add_drive_opts_argv options {};
        options.bitmask =
            GUESTFS_ADD_DRIVE_OPTS_READONLY_BITMASK | GUESTFS_ADD_DRIVE_OPTS_FORMAT_BITMASK;
        options.readonly = writable && !drive.read_only ? 0 : 1;
        options.format = drive.format.c_str();
        if (guestfs_add_drive_opts_argv(g, drive.image.c_str(), &options) != 0) {
            why = drive.image + ": cannot be opened: " + guest->error();
            return nullptr;
        }
        // A write QEMU cannot make (its disk full) is an error the guest sees, not a pause that
        // waits for space forever: libguestfs names its drives hd0, hd1, ... in their order.
        const std::string policy = "drive.hd" + std::to_string(&drive - drives.data()) + ".werror=report";
        if (direct && guestfs_config(g, "-set", policy.c_str()) != 0) {
            why = drive.image + ": cannot be attached: " + guest->error();
            return nullptr;
        }
    }
    if (guestfs_launch(g) == 0) return guest;
    why = start_failure(guest->messages, guest->error());
    return nullptr;
}

}  // namespace endpointfix::offline::image
