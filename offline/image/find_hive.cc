#include "offline/image/find_hive.h"

#include <strings.h>

#include "offline/image/partition_table.h"
#include "offline/load/hive_file.h"
#include "offline/load/path_parts.h"

namespace endpointfix::offline::image {
namespace {

bool same_no_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// Whether the filesystem on `device` is on `disk`: the disk itself, or one of its partitions
// ("/dev/sda1" is on "/dev/sda", "/dev/sdab1" is not).
bool on_disk(const std::string& device, const std::string& disk) {
    return device.compare(0, disk.size(), disk) == 0 &&
           (device.size() == disk.size() || (device[disk.size()] >= '0' && device[disk.size()] <= '9'));
}

std::string joined(const std::vector<Installation>& all, const std::string& disk) {
    std::string names;
    for (std::size_t i = 0; i < all.size(); ++i)
        names += (i == 0 ? "" : i + 1 == all.size() ? " and " : ", ") + as_alone(all[i].device, disk);
    return names;
}

// The hive below `system_folder` on `device` (`name` to the user), where there is one; `odd`
// notes why a filesystem may hold one not found: it does not mount, or its SOFTWARE is not a
// regular file (a link is never followed).
void hive_on(Guest& guest, const std::string& device, const std::string& name,
             const std::string& system_folder, std::vector<Installation>& all, std::string& odd) {
    if (!guest.mount(device, false)) {
        odd = "the filesystem on " + name + " does not mount (" + guest.error() +
              "); where it is NTFS, chkdsk /f in Windows repairs it";
        return;
    }
    const std::string path = system_folder + "/System32/config/SOFTWARE";
    const auto hive = guest.file(path);
    const auto facts = hive ? std::nullopt : guest.stat(path);
    guest.unmount_all();
    if (hive) all.push_back({device, *hive});
    if (facts && !facts->regular)
        odd = path.substr(1) + " on " + name + " is not a regular file (a symbolic link?), and is "
              "not followed";
}

std::string mebibytes(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// Why `disk` cannot be read whole: it is shorter than its partition table says.
std::string cut_short(Guest& guest, const std::string& disk) {
    const auto head = guest.disk_head(disk, kPartitionTableBytes);
    const auto size = guest.disk_size(disk);
    const auto wanted = head ? partitioned_size(*head) : std::nullopt;
    if (!size || !wanted || *wanted <= static_cast<std::uint64_t>(*size)) return "";
    return "is cut short: " + mebibytes(static_cast<std::uint64_t>(*size)) + " of a " +
           mebibytes(*wanted) + " disk (its partition table reaches past its end)";
}

}  // namespace

std::string as_alone(const std::string& device, const std::string& disk) {
    return on_disk(device, disk) ? "/dev/sda" + device.substr(disk.size()) : device;
}

std::string find_installation(Guest& guest, const std::string& disk, const std::string& root,
                              Installation& found) {
    // A look at each filesystem first: inspection reads every disk of the appliance, each
    // filesystem mounted and its hives read, which a batch's images would pay for each.
    if (std::string why = cut_short(guest, disk); !why.empty()) return why;
    std::vector<Installation> all;
    std::vector<std::string> filesystems;
    std::string odd;
    for (const auto& device : guest.filesystems())
        if (on_disk(device, disk)) filesystems.push_back(device);
    for (const auto& device : filesystems)
        hive_on(guest, device, as_alone(device, disk), "/Windows", all, odd);
    if (all.empty() && odd.empty())
        for (const auto& [device, system_folder] : guest.windows_roots())
            if (on_disk(device, disk))
                hive_on(guest, device, as_alone(device, disk), system_folder, all, odd);
    if (filesystems.empty()) return "is not a disk image, or holds no filesystem libguestfs reads";
    if (all.empty() && !odd.empty()) return "holds no Windows installation found: " + odd;
    if (all.empty()) return "holds no Windows installation (no Windows/System32/config/SOFTWARE)";
    if (!root.empty()) {
        std::vector<Installation> picked;
        for (const auto& one : all)
            if (as_alone(one.device, disk) == root) picked.push_back(one);
        if (picked.empty())
            return "holds no Windows installation on " + root + " (only on " + joined(all, disk) + ")";
        all = picked;
    }
    if (all.size() > 1)
        return "holds " + std::to_string(all.size()) + " Windows installations, on " +
               joined(all, disk) + ": choose one with --root DEVICE";
    found = all.front();
    return guest.mount(found.device, false)
               ? ""
               : "cannot mount " + as_alone(found.device, disk) + ": " + guest.error();
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
