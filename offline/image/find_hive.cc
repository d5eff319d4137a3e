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
void hive_on(Appliance& guest, const std::string& device, const std::string& system_folder,
             std::vector<Installation>& all) {
    if (!guest.mount(device, false).ok()) return;
    std::string hive;
    const Result found = guest.find_file(system_folder + "/System32/config/SOFTWARE", hive);
    guest.unmount_all();
    if (found.ok()) all.push_back({device, hive});
}

// Whether the filesystem on `device` is on `disk`: the disk itself, or one of its partitions
// ("/dev/sda1" is on "/dev/sda", "/dev/sdab1" is not).
bool on_disk(const std::string& device, const std::string& disk) {
    return device.compare(0, disk.size(), disk) == 0 &&
           (device.size() == disk.size() || (device[disk.size()] >= '0' && device[disk.size()] <= '9'));
}

}  // namespace

std::string find_installation(Appliance& guest, const std::string& disk, const std::string& root,
                              Installation& found) {
    // A look at each filesystem first: inspection reads every disk of the appliance, each
    // filesystem mounted and its hives read, which a batch's images would pay for each.
    std::vector<Installation> all;
    std::vector<std::string> filesystems, every;
    std::vector<std::pair<std::string, std::string>> roots;
    if (guest.filesystems(every).ok())
        for (const auto& device : every)
            if (on_disk(device, disk)) filesystems.push_back(device);
    for (const auto& device : filesystems) hive_on(guest, device, "/Windows", all);
    if (all.empty() && guest.windows_roots(roots).ok())
        for (const auto& [device, system_folder] : roots)
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
    const Result mounted = guest.mount(found.device, false);
    return mounted.ok() ? "" : mounted.message();
}

bool hibernated(Appliance& guest) {
    std::string file, head;
    return guest.find_file("/hiberfil.sys", file).ok() && guest.head(file, 4, head).ok() &&
           same_no_case(head, "hibr");
}

std::vector<std::string> hive_logs(Appliance& guest, const std::string& hive) {
    const PathParts parts = split_path(hive);
    std::vector<std::string> names, logs;
    if (!guest.volume().list(parts.folder, names).ok()) return logs;
    for (const auto& other : names)
        if (is_transaction_log(parts.name, other)) logs.push_back(other);
    return logs;
}

}  // namespace endpointfix::offline::image
