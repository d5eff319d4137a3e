// Extended attributes through the shell of libguestfs' appliance (its debug call), where
// libguestfs' own calls fail: its set call cuts a value at its first NUL byte (and a security
// descriptor holds many), and its get call refuses ntfs-3g's system.ntfs_crtime, whose size asked
// for first is not the size then read.
#pragma once

#include <optional>
#include <string>

namespace endpointfix::offline::image {

// The command line for /bin/sh in the appliance (with the guest's root in $root) that gives the
// file at `path` in the guest the attribute `name` with the value `bytes`, passed to setfattr in
// hex. A link is not followed.
std::string setfattr_command(const std::string& path, const std::string& name,
                             const std::string& bytes);

// The command line that prints the attribute `name` of the file at `path` in hex (getfattr),
// or why not, and succeeds either way; getfattr_value reads the value from what it printed,
// nothing where it printed none.
std::string getfattr_command(const std::string& path, const std::string& name);
std::optional<std::string> getfattr_value(const std::string& printed, const std::string& name);

}  // namespace endpointfix::offline::image
