#include "offline/image/guest.h"
#include "offline/image/image_file.h"

#include <guestfs.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace endpointfix::offline::image {

struct Guest::Handle {
    guestfs_h* g = nullptr;
    std::string messages;  // libguestfs' and QEMU's, kept to tell why a start failed
};

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

// `text` as one word for /bin/sh.
std::string quoted(const std::string& text) {
    std::string word = "'";
    for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

bool debugging() {
    const char* debug = std::getenv("LIBGUESTFS_DEBUG");
    return debug != nullptr && *debug != '\0' && std::strcmp(debug, "0") != 0;
}

}  // namespace

Guest::Guest(Handle* handle) : handle_(handle) {}

Guest::~Guest() {
    guestfs_close(handle_->g);
    delete handle_;
}

std::unique_ptr<Guest> Guest::open(const std::string& image, bool writable, std::string& why) {
    guestfs_h* g = guestfs_create();
    if (g == nullptr) {
        why = "cannot create a libguestfs handle";
        return nullptr;
    }
    std::unique_ptr<Guest> guest(new Guest(new Handle{g, {}}));
    if (!debugging()) {
        // Errors are told by this program, in one line; the rest is kept for the diagnosis.
        guestfs_set_error_handler(g, nullptr, nullptr);
        guestfs_set_event_callback(
            g, keep_message,
            GUESTFS_EVENT_APPLIANCE | GUESTFS_EVENT_LIBRARY | GUESTFS_EVENT_WARNING, 0,
            &guest->handle_->messages);
    }
    // Its own process group, so that an interrupt from the terminal reaches this program, which
    // ends the appliance itself, and never QEMU in the middle of a write.
    guestfs_set_pgroup(g, 1);
    // The format is probed by qemu-img here, and then named: QEMU keeps a probed raw image from
    // writing its first sector.
    const auto format = owned(guestfs_disk_format(g, image.c_str()));
    struct guestfs_add_drive_opts_argv options {};
    options.bitmask = GUESTFS_ADD_DRIVE_OPTS_READONLY_BITMASK;
    options.readonly = writable ? 0 : 1;
    if (format && *format != "unknown")
        options.bitmask |= GUESTFS_ADD_DRIVE_OPTS_FORMAT_BITMASK, options.format = format->c_str();
    const int added = guestfs_add_drive_opts_argv(g, image.c_str(), &options);
    if (added != 0) {
        why = "cannot be opened: " + guest->error();
        return nullptr;
    }
    if (guestfs_launch(g) == 0) return guest;
    why = start_failure(guest->handle_->messages, guest->error());
    return nullptr;
}

std::string Guest::error() const {
    const char* last = guestfs_last_error(handle_->g);
    // Its first line: the rest is libguestfs' advice on debugging, which the messages give.
    std::string text = last != nullptr ? last : "unknown error";
    text.erase(std::min(text.find('\n'), text.size()));
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    return text;
}

std::vector<std::pair<std::string, std::string>> Guest::windows_roots() {
    std::vector<std::pair<std::string, std::string>> windows;
    for (const auto& root : owned_list(guestfs_inspect_os(handle_->g)))
        if (owned(guestfs_inspect_get_type(handle_->g, root.c_str())) == "windows")
            windows.emplace_back(
                root, owned(guestfs_inspect_get_windows_systemroot(handle_->g, root.c_str()))
                          .value_or("/Windows"));
    return windows;
}

std::vector<std::string> Guest::filesystems() {
    const auto pairs = owned_list(guestfs_list_filesystems(handle_->g));
    std::vector<std::string> devices;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
        if (pairs[i + 1] != "swap" && pairs[i + 1] != "unknown") devices.push_back(pairs[i]);
    return devices;
}

bool Guest::mount(const std::string& device, bool writable) {
    return (writable ? guestfs_mount(handle_->g, device.c_str(), "/")
                     : guestfs_mount_ro(handle_->g, device.c_str(), "/")) == 0;
}

void Guest::unmount_all() { guestfs_umount_all(handle_->g); }

std::optional<std::string> Guest::file(const std::string& path) {
    auto real = owned(guestfs_case_sensitive_path(handle_->g, path.c_str()));
    if (!real || guestfs_is_file(handle_->g, real->c_str()) != 1) return std::nullopt;
    return real;
}

std::vector<std::string> Guest::list(const std::string& folder) {
    return owned_list(guestfs_ls(handle_->g, folder.c_str()));
}

std::optional<std::string> Guest::head(const std::string& path, std::size_t count) {
    std::size_t got = 0;
    char* bytes = guestfs_pread(handle_->g, path.c_str(), static_cast<int>(count), 0, &got);
    return owned(bytes, got);
}

std::optional<std::int64_t> Guest::size(const std::string& path) {
    const std::int64_t bytes = guestfs_filesize(handle_->g, path.c_str());
    if (bytes < 0) return std::nullopt;
    return bytes;
}

std::optional<std::string> Guest::sha256(const std::string& path) {
    return owned(guestfs_checksum(handle_->g, "sha256", path.c_str()));
}

std::optional<std::string> Guest::attribute(const std::string& path, const std::string& name) {
    std::size_t got = 0;
    char* bytes = guestfs_lgetxattr(handle_->g, path.c_str(), name.c_str(), &got);
    return owned(bytes, got);
}

std::optional<std::vector<std::pair<std::string, std::string>>> Guest::attributes(
    const std::string& path) {
    guestfs_xattr_list* list = guestfs_lgetxattrs(handle_->g, path.c_str());
    if (list == nullptr) return std::nullopt;
    std::vector<std::pair<std::string, std::string>> kept;
    for (std::uint32_t i = 0; i < list->len; ++i)
        kept.emplace_back(list->val[i].attrname,
                          std::string(list->val[i].attrval, list->val[i].attrval_len));
    guestfs_free_xattr_list(list);
    return kept;
}

// guestfs_lsetxattr sends its value as a string, cut at the first NUL byte (a security
// descriptor holds many), and the daemon then reads past it. So the value goes to setfattr in the
// appliance, in hex, through libguestfs' debug shell: one command line for /bin/sh there, with the
// guest's root in $root. Whoever depends on the value reads it back.
bool Guest::set_attribute(const std::string& path, const std::string& name,
                          const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string value = bytes.empty() ? "''" : "0x";
    for (const unsigned char byte : bytes) value += digits[byte >> 4], value += digits[byte & 15];
    std::string command =
        "setfattr -h -n " + quoted(name) + " -v " + value + " -- \"$root\"" + quoted(path);
    char* args[] = {command.data(), nullptr};
    return owned(guestfs_debug(handle_->g, "sh", args)).has_value();
}

bool Guest::download(const std::string& path, const std::string& local) {
    return guestfs_download(handle_->g, path.c_str(), local.c_str()) == 0;
}

bool Guest::upload(const std::string& local, const std::string& path) {
    return guestfs_upload(handle_->g, local.c_str(), path.c_str()) == 0;
}

bool Guest::link(const std::string& target, const std::string& name) {
    return guestfs_ln(handle_->g, target.c_str(), name.c_str()) == 0;
}

bool Guest::rename(const std::string& from, const std::string& to) {
    return guestfs_rename(handle_->g, from.c_str(), to.c_str()) == 0;
}

bool Guest::remove(const std::string& path) { return guestfs_rm(handle_->g, path.c_str()) == 0; }

bool Guest::finish() {
    return guestfs_sync(handle_->g) == 0 && guestfs_umount_all(handle_->g) == 0 &&
           guestfs_shutdown(handle_->g) == 0;
}

}  // namespace endpointfix::offline::image
