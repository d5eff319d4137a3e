// What can be known of a hive file from its base block and first bin, before anything else reads
// it: whether it is a hive at all, whether it is whole, and whether it is dirty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace endpointfix::offline {

struct HiveFileState {
    std::string damage;     // why the file cannot be serviced; empty where it can
    bool dirty = false;     // its sequence numbers differ: recent changes wait in its logs
    unsigned sequence = 0;  // the base block's first sequence number
    // The bytes that are the hive, base block and bins, from the file's start; what follows them
    // in the file is not part of it. 0 where the file is damaged.
    std::uint64_t size = 0;
};

// Reads the base block and the first bin's header of the file open at `fd`.
HiveFileState inspect_hive_file(int fd);

// The hive a path names. Where the path is a symbolic link, the hive is the file the link
// finally names: its folder holds the logs, and takes the lock, the new file and the backup, so
// that the link itself stays as it is.
struct HivePath {
    std::string given;  // as it was named
    std::string file;   // the file serviced: `given`, or the file the link finally names
    // `given`, or "GIVEN (a link to FILE)": how messages name the hive.
    std::string label() const;
};
HivePath resolve_hive_path(const std::string& given);

// Whether the file named `other` is a transaction log of the hive named `name`, both names
// without their folders: NAME.LOG, NAME.LOG1 or NAME.LOG2, in any letter case.
bool is_transaction_log(const std::string& name, const std::string& other);

// The transaction logs that stand beside `hive`: HIVE.LOG, HIVE.LOG1, HIVE.LOG2, in any letter
// case of the suffix, as paths.
std::vector<std::string> transaction_logs(const std::string& hive);

}  // namespace endpointfix::offline
