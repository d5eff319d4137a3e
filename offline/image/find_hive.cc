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

// `why`, a failure that names `device` (on `disk`), naming it as_alone.
std::string named_alone(const Result& why, const std::string& device, const std::string& disk) {
    std::string message = why.message();
    if (const auto at = message.find(device); at != std::string::npos)
        message.replace(at, device.size(), as_alone(device, disk));
    return message;
}

// The hive below `system_folder` on `device` (on `disk`), where there is one; `odd` notes why a
// filesystem may hold one not found: it does not mount, or its SOFTWARE is not a regular file
// (a link is never followed).
void hive_on(Appliance& guest, const std::string& device, const std::string& disk,
             const std::string& system_folder, std::vector<Installation>& all, std::string& odd) {
    const std::string name = as_alone(device, disk);
    if (const Result mounted = guest.mount(device, false); !mounted.ok()) {
        odd = "the filesystem on " + name + " does not mount (" +
              named_alone(mounted, device, disk) + "); where it is NTFS, chkdsk /f in Windows repairs it";
        return;
    }
    const std::string path = system_folder + "/System32/config/SOFTWARE";
    std::string hive;
    const Result found = guest.find_file(path, hive);
    FileFacts facts;
    const bool odd_file = !found.ok() && guest.volume().stat(path, facts).ok() && !facts.regular;
    guest.unmount_all();
    if (found.ok()) all.push_back({device, hive});
    if (odd_file)
        odd = path.substr(1) + " on " + name + " is not a regular file (a symbolic link?), and is "
              "not followed";
}

std::string mebibytes(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// Why `disk` cannot be read whole: it is shorter than its partition table says.
std::string cut_short(Appliance& guest, const std::string& disk) {
    std::string head;
    std::uint64_t size = 0;
    if (!guest.disk_head(disk, kPartitionTableBytes, head).ok() || !guest.disk_size(disk, size).ok())
        return "";
    const auto wanted = partitioned_size(head);
    if (!wanted || *wanted <= size) return "";
    return "is cut short: " + mebibytes(size) + " of a " + mebibytes(*wanted) +
           " disk (its partition table reaches past its end)";
}

}  // namespace

std::string as_alone(const std::string& device, const std::string& disk) {
    return on_disk(device, disk) ? "/dev/sda" + device.substr(disk.size()) : device;
}

Result find_installation(Appliance& guest, const std::string& disk, const std::string& root,
                         Installation& found) {
    // A look at each filesystem first: inspection reads every disk of the appliance, each
    // filesystem mounted and its hives read, which a batch's images would pay for each.
    if (std::string why = cut_short(guest, disk); !why.empty()) return Result::refused(why);
    std::vector<Installation> all;
    std::vector<std::string> filesystems, every;
    std::vector<std::pair<std::string, std::string>> roots;
    std::string odd;
    if (guest.filesystems(every).ok())
        for (const auto& device : every)
            if (on_disk(device, disk)) filesystems.push_back(device);
    for (const auto& device : filesystems)
        hive_on(guest, device, disk, "/Windows", all, odd);
    if (all.empty() && odd.empty() && guest.windows_roots(roots).ok())
        for (const auto& [device, system_folder] : roots)
            if (on_disk(device, disk))
                hive_on(guest, device, disk, system_folder, all, odd);
    if (filesystems.empty())
        return Result::refused("is not a disk image, or holds no filesystem libguestfs reads");
    if (all.empty() && !odd.empty())
        return Result::refused("holds no Windows installation found: " + odd);
    if (all.empty())
        return Result::refused("holds no Windows installation (no Windows/System32/config/SOFTWARE)");
    if (!root.empty()) {
        std::vector<Installation> picked;
        for (const auto& one : all)
            if (as_alone(one.device, disk) == root) picked.push_back(one);
        if (picked.empty())
            return Result::refused("holds no Windows installation on " + root + " (only on " +
                                   joined(all, disk) + ")");
        all = picked;
    }
    if (all.size() > 1)
        return Result::refused("holds " + std::to_string(all.size()) +
                               " Windows installations, on " + joined(all, disk) +
                               ": choose one with --root DEVICE");
    found = all.front();
    if (const Result mounted = guest.mount(found.device, false); !mounted.ok())
        return Result::refused(named_alone(mounted, found.device, disk));
    return {};
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
