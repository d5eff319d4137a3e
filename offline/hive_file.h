// What can be known of a hive file from its base block and first bin, before anything else reads
// it: whether it is a hive at all, whether it is whole, and whether it is dirty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "offline/base_block.h"

namespace endpointfix::offline {

// Reads the base block and the first bin's header of the file open at `fd`, and checks them
// (check_hive_file).
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
