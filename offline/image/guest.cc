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

// libguestfs' appliance, and the filesystem it has mounted as a Volume: an NTFS volume through
// ntfs-3g, whose files have no owner or mode of their own. Every failure becomes a Result here,
// with libguestfs' errno value (kRefused where it gives none).
class ApplianceGuest final : public Appliance, public Volume {
public:
    explicit ApplianceGuest(guestfs_h* g) : g_(g) {}
    ~ApplianceGuest() override { guestfs_close(g_); }
    ApplianceGuest(const ApplianceGuest&) = delete;
    ApplianceGuest& operator=(const ApplianceGuest&) = delete;

    // libguestfs' and QEMU's messages, kept to tell why a start failed.
    std::string messages;
    std::string error() const { return last_error(g_); }

    Volume& volume() override { return *this; }
    Result disks(std::vector<std::string>& disks) override {
        return listed(guestfs_list_devices(g_), disks, "cannot list the disks");
    }
    Result windows_roots(std::vector<std::pair<std::string, std::string>>& roots) override;
    Result filesystems(std::vector<std::string>& devices) override;
    Result disk_head(const std::string& disk, std::size_t count, std::string& bytes) override {
        std::size_t got = 0;
        char* read = guestfs_pread_device(g_, disk.c_str(), static_cast<int>(count), 0, &got);
        return taken(owned(read, got), bytes, "cannot read " + disk);
    }
    Result disk_size(const std::string& disk, std::uint64_t& bytes) override {
        const std::int64_t size = guestfs_blockdev_getsize64(g_, disk.c_str());
        if (size < 0) return failure("cannot tell the size of " + disk);
        bytes = static_cast<std::uint64_t>(size);
        return {};
    }
    Result mount(const std::string& device, bool writable) override {
        return done(writable ? guestfs_mount(g_, device.c_str(), "/")
                             : guestfs_mount_ro(g_, device.c_str(), "/"),
                    "cannot mount " + device + (writable ? " for writing" : ""));
    }
    void unmount_all() override { guestfs_umount_all(g_); }
    Result find_file(const std::string& path, std::string& spelt) override {
        auto real = owned(guestfs_case_sensitive_path(g_, path.c_str()));
        if (!real) return failure("cannot look for " + path);
        if (guestfs_is_file(g_, real->c_str()) != 1) return {ENOENT, path + ": no such file"};
        spelt = std::move(*real);
        return {};
    }
    Result head(const std::string& path, std::size_t count, std::string& bytes) override {
        std::size_t got = 0;
        char* read = guestfs_pread(g_, path.c_str(), static_cast<int>(count), 0, &got);
        return taken(owned(read, got), bytes, "cannot read " + path);
    }
    Result copy_out(const std::string& path, const std::string& local) override {
        return done(guestfs_download(g_, path.c_str(), local.c_str()), "cannot copy " + path + " out");
    }
    Result finish() override {
        const bool flushed =
            guestfs_sync(g_) == 0 && guestfs_umount_all(g_) == 0 && guestfs_sync(g_) == 0;
        return flushed ? Result{} : failure("the image may not hold what was written");
    }

    bool has_modes() const override { return false; }
    Result stat(const std::string& path, FileFacts& facts) override;
    Result list(const std::string& folder, std::vector<std::string>& names) override {
        return listed(guestfs_ls(g_, folder.c_str()), names, "cannot list " + folder);
    }
    Result create(const std::string& path) override {
        FileFacts facts;
        const Result there = stat(path, facts);
        if (there.ok()) return {EEXIST, "cannot create " + path + ": it exists"};
        if (there.code() != ENOENT) return there;
        return done(guestfs_touch(g_, path.c_str()), "cannot create " + path);
    }
    // Nothing to give: the security descriptor (an attribute) holds the access.
    Result set_owner(const std::string&, unsigned, unsigned, unsigned) override { return {}; }
    Result list_attributes(const std::string& path, std::vector<std::string>& names) override;
    Result attribute(const std::string& path, const std::string& name,
                     std::optional<std::string>& value) override;
    Result set_attribute(const std::string& path, const std::string& name,
                         const std::string& value) override;
    Result remove_attribute(const std::string& path, const std::string& name) override {
        return done(guestfs_lremovexattr(g_, name.c_str(), path.c_str()),
                    "cannot remove " + name + " of " + path);
    }
    // ntfs-3g has no inode flags: its file attributes are an extended attribute.
    Result flags(const std::string&, unsigned& flags) override { return flags = 0, Result{}; }
    Result set_flags(const std::string& path, unsigned flags) override {
        return flags == 0 ? Result{} : Result::refused("cannot give " + path + " inode flags");
    }
    // Uploads the local file through /proc/self/fd/FROM, which reads it from its start.
    Result write(const std::string& path, int from, std::uint64_t size) override;
    // The appliance flushes every write at once.
    Result sync(const std::string&) override { return done(guestfs_sync(g_), "cannot flush the image"); }
    Result sha256(const std::string& path, std::string& digest) override {
        return taken(owned(guestfs_checksum(g_, "sha256", path.c_str())), digest,
                     "cannot read back " + path);
    }
    Result link(const std::string& existing, const std::string& name) override {
        return done(guestfs_ln(g_, existing.c_str(), name.c_str()), "cannot link " + name);
    }
    Result rename(const std::string& from, const std::string& to) override {
        return done(guestfs_rename(g_, from.c_str(), to.c_str()),
                    "cannot rename " + from + " to " + to);
    }
    Result remove(const std::string& path) override {
        return done(guestfs_rm(g_, path.c_str()), "cannot remove " + path);
    }
    Result sync_folder(const std::string&) override {
        return done(guestfs_sync(g_), "cannot flush the image");
    }

private:
    // libguestfs' last failure: "WHAT: its reason", with its errno value.
    Result failure(const std::string& what) const {
        const int code = guestfs_last_errno(g_);
        return {code != 0 ? code : Result::kRefused, what + ": " + last_error(g_)};
    }
    Result done(int status, const std::string& what) const {
        return status == 0 ? Result{} : failure(what);
    }
    Result taken(std::optional<std::string> got, std::string& into, const std::string& what) const {
        if (!got) return failure(what);
        into = std::move(*got);
        return {};
    }
    Result listed(char** list, std::vector<std::string>& into, const std::string& what) const {
        if (list == nullptr) return failure(what);
        into = owned_list(list);
        return {};
    }

    guestfs_h* g_;
    // Inspection reads every disk attached: done once a start, for all the images.
    std::optional<std::vector<std::pair<std::string, std::string>>> windows_;
    std::optional<std::vector<std::string>> filesystems_;
};

Result ApplianceGuest::windows_roots(std::vector<std::pair<std::string, std::string>>& roots) {
    if (!windows_) {
        std::vector<std::string> found;
        if (const Result inspected = listed(guestfs_inspect_os(g_), found, "cannot inspect the images");
            !inspected.ok())
            return inspected;
        auto& windows = windows_.emplace();
        for (const auto& root : found)
            if (owned(guestfs_inspect_get_type(g_, root.c_str())) == "windows")
                windows.emplace_back(
                    root, owned(guestfs_inspect_get_windows_systemroot(g_, root.c_str()))
                              .value_or("/Windows"));
    }
    roots = *windows_;
    return {};
}

// Device by device: libguestfs' list of filesystems fails whole where one disk's partition table
// does (a disk cut short), and would take every other image's filesystems with it.
Result ApplianceGuest::filesystems(std::vector<std::string>& devices) {
    if (!filesystems_) {
        std::vector<std::string> all, partitions;
        if (const Result read = listed(guestfs_list_devices(g_), all, "cannot list the disks");
            !read.ok())
            return read;
        if (listed(guestfs_list_partitions(g_), partitions, "cannot list the partitions").ok())
            all.insert(all.end(), partitions.begin(), partitions.end());
        auto& found = filesystems_.emplace();
        for (const auto& device : all) {
            const auto type = owned(guestfs_vfs_type(g_, device.c_str()));
            if (type && !type->empty() && *type != "swap" && *type != "unknown")
                found.push_back(device);
        }
    }
    devices = *filesystems_;
    return {};
}

Result ApplianceGuest::stat(const std::string& path, FileFacts& facts) {
    struct guestfs_statns* st = guestfs_lstatns(g_, path.c_str());
    if (st == nullptr) return failure("cannot stat " + path);
    facts = {};
    facts.regular = S_ISREG(st->st_mode);
    facts.size = static_cast<std::uint64_t>(st->st_size);
    facts.links = static_cast<std::uint64_t>(st->st_nlink);
    facts.device = static_cast<std::uint64_t>(st->st_dev);
    facts.inode = static_cast<std::uint64_t>(st->st_ino);
    guestfs_free_statns(st);
    return {};
}

Result ApplianceGuest::list_attributes(const std::string& path, std::vector<std::string>& names) {
    guestfs_xattr_list* list = guestfs_lgetxattrs(g_, path.c_str());
    if (list == nullptr) return failure("cannot list the extended attributes of " + path);
    names.clear();
    for (std::uint32_t i = 0; i < list->len; ++i) names.emplace_back(list->val[i].attrname);
    guestfs_free_xattr_list(list);
    return {};
}

// Where libguestfs' own call fails but for a missing attribute, the appliance's getfattr; where
// that reads nothing either, the failure is the first call's.
Result ApplianceGuest::attribute(const std::string& path, const std::string& name,
                                 std::optional<std::string>& value) {
    std::size_t got = 0;
    char* read = guestfs_lgetxattr(g_, path.c_str(), name.c_str(), &got);  // sets `got` first
    value = owned(read, got);
    if (value || guestfs_last_errno(g_) == ENODATA) return {};
    const Result first = failure("cannot read " + name + " of " + path);
    std::string command = getfattr_command(path, name);
    char* args[] = {command.data(), nullptr};
    const auto printed = owned(guestfs_debug(g_, "sh", args));
    value = printed ? getfattr_value(*printed, name) : std::nullopt;
    return value ? Result{} : first;
}

// guestfs_lsetxattr sends its value as a string, cut at the first NUL byte (a security
// descriptor holds many), and the daemon then reads past it: so setfattr, in the appliance.
Result ApplianceGuest::set_attribute(const std::string& path, const std::string& name,
                                     const std::string& value) {
    std::string command = setfattr_command(path, name, value);
    char* args[] = {command.data(), nullptr};
    return owned(guestfs_debug(g_, "sh", args)) ? Result{}
                                                : failure("cannot set " + name + " of " + path);
}

Result ApplianceGuest::write(const std::string& path, int from, std::uint64_t size) {
    struct stat local;
    if (fstat(from, &local) != 0) return failed("cannot read the new hive", errno);
    if (static_cast<std::uint64_t>(local.st_size) != size)
        return Result::refused("the new hive is not the size it was made");
    return done(guestfs_upload(g_, ("/proc/self/fd/" + std::to_string(from)).c_str(), path.c_str()),
                "cannot write the new hive into the image");
}

}  // namespace

Result probe_image(const std::string& image, ImageFormat& probed) {
    guestfs_h* g = guestfs_create();
    if (g == nullptr) return Result::refused("cannot create a libguestfs handle");
    guestfs_set_error_handler(g, nullptr, nullptr);
    // Both ask qemu-img on this machine, which opens no backing file for them.
    const auto format = owned(guestfs_disk_format(g, image.c_str()));
    const int backing = format ? guestfs_disk_has_backing_file(g, image.c_str()) : -1;
    Result done;
    if (format && backing >= 0)
        probed = ImageFormat{*format, backing == 1};
    else
        done = Result::refused("cannot be read as a disk image: " + last_error(g));
    guestfs_close(g);
    return done;
}

Result open_guest(const std::vector<Drive>& drives, bool writable,
                  std::unique_ptr<Appliance>& appliance) {
    guestfs_h* g = guestfs_create();
    if (g == nullptr) return Result::refused("cannot create a libguestfs handle");
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
        if (guestfs_add_drive_opts_argv(g, drive.image.c_str(), &options) != 0)
            return Result::refused(drive.image + ": cannot be opened: " + guest->error());
        // A write QEMU cannot make (its disk full) is an error the guest sees, not a pause that
        // waits for space forever: libguestfs names its drives hd0, hd1, ... in their order.
        const std::string policy =
            "drive.hd" + std::to_string(&drive - drives.data()) + ".werror=report";
        if (direct && guestfs_config(g, "-set", policy.c_str()) != 0)
            return Result::refused(drive.image + ": cannot be attached: " + guest->error());
    }
    if (guestfs_launch(g) != 0)
        return Result::refused(start_failure(guest->messages, guest->error()));
    appliance = std::move(guest);
    return {};
}

}  // namespace endpointfix::offline::image
