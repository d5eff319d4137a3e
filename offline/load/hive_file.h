// What can be known of a hive file from its base block and first bin, before anything else reads
// it: whether it is a hive at all, whether it is whole, and whether it is dirty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "registry/format/base_block.h"

namespace endpointfix::offline {

// Reads the base block and the first bin's header of the file open at `fd`, and checks them
// (check_hive_file).
format::HiveFileState inspect_hive_file(int fd);

// The hive a run services, as the front end names it and where its bytes are.
struct HiveSource {
    std::string name;     // as the user knows it: in messages and in --json's "source"
    std::string file;     // the file read, beside which its logs are: a path, or a copy's
    bool linked = false;  // `name` is a symbolic link that finally names `file`
    // `name`, or "NAME (a link to FILE)": how messages name the hive.
    std::string label() const;
};

// The hive a path names. Where the path is a symbolic link, the hive is the file the link
// finally names: its folder holds the logs, and takes the lock, the new file and the backup, so
// that the link itself stays as it is.
HiveSource resolve_hive_path(const std::string& given);

// Whether the file named `other` is a transaction log of the hive named `name`, both names
// without their folders: NAME.LOG, NAME.LOG1 or NAME.LOG2, in any letter case.
bool is_transaction_log(const std::string& name, const std::string& other);

// The transaction logs that stand beside `hive`: HIVE.LOG, HIVE.LOG1, HIVE.LOG2, in any letter
// case of the suffix, as paths.
std::vector<std::string> transaction_logs(const std::string& hive);

}  // namespace endpointfix::offline
