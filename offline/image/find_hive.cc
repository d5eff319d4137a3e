#include "offline/image/find_hive.h"

#include <strings.h>

#include "offline/load/hive_file.h"
#include "offline/load/path_parts.h"

namespace endpointfix::offline::image {
namespace {

bool same_no_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string joined(const std::vector<Installation>& all) {
    std::string names;
    for (std::size_t i = 0; i < all.size(); ++i)
        names += (i == 0 ? "" : i + 1 == all.size() ? " and " : ", ") + all[i].device;
    return names;
}

// The hive below `system_folder` on `device`, where there is one.
void hive_on(Guest& guest, const std::string& device, const std::string& system_folder,
             std::vector<Installation>& all) {
    if (!guest.mount(device, false)) return;
    const auto hive = guest.file(system_folder + "/System32/config/SOFTWARE");
    guest.unmount_all();
    if (hive) all.push_back({device, *hive});
}

// Whether the filesystem on `device` is on `disk`: the disk itself, or one of its partitions
// ("/dev/sda1" is on "/dev/sda", "/dev/sdab1" is not).
bool on_disk(const std::string& device, const std::string& disk) {
    return device.compare(0, disk.size(), disk) == 0 &&
           (device.size() == disk.size() || (device[disk.size()] >= '0' && device[disk.size()] <= '9'));
}

}  // namespace

std::string find_installation(Guest& guest, const std::string& disk, const std::string& root,
                              Installation& found) {
    // A look at each filesystem first: inspection reads every disk of the appliance, each
    // filesystem mounted and its hives read, which a batch's images would pay for each.
    std::vector<Installation> all;
    std::vector<std::string> filesystems;
    for (const auto& device : guest.filesystems())
        if (on_disk(device, disk)) filesystems.push_back(device);
    for (const auto& device : filesystems) hive_on(guest, device, "/Windows", all);
    if (all.empty())
        for (const auto& [device, system_folder] : guest.windows_roots())
            if (on_disk(device, disk)) hive_on(guest, device, system_folder, all);
    if (filesystems.empty()) return "is not a disk image, or holds no filesystem libguestfs reads";
    if (all.empty()) return "holds no Windows installation (no Windows/System32/config/SOFTWARE)";
    if (!root.empty()) {
        std::vector<Installation> picked;
        for (const auto& one : all)
            if (one.device == root) picked.push_back(one);
        if (picked.empty())
            return "holds no Windows installation on " + root + " (only on " + joined(all) + ")";
        all = picked;
    }
    if (all.size() > 1)
        return "holds " + std::to_string(all.size()) + " Windows installations, on " + joined(all) +
               ": choose one with --root DEVICE";
    found = all.front();
    return guest.mount(found.device, false) ? ""
                                            : "cannot mount " + found.device + ": " + guest.error();
}

bool hibernated(Guest& guest) {
    const auto file = guest.file("/hiberfil.sys");
    const auto head = file ? guest.head(*file, 4) : std::nullopt;
    return head && same_no_case(*head, "hibr");
}

std::vector<std::string> hive_logs(Guest& guest, const std::string& hive) {
    const PathParts parts = split_path(hive);
    std::vector<std::string> logs;
    for (const auto& other : guest.list(parts.folder).value_or(std::vector<std::string>{}))
        if (is_transaction_log(parts.name, other)) logs.push_back(other);
    return logs;
}

}  // namespace endpointfix::offline::image
