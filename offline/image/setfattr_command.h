// Setting an extended attribute in libguestfs' appliance, whose own call for it cuts the value
// at its first NUL byte (and a security descriptor holds many).
#pragma once

#include <string>

namespace endpointfix::offline::image {

// The command line for /bin/sh in the appliance (libguestfs' debug shell, with the guest's root
// in $root) that gives the file at `path` in the guest the attribute `name` with the value
// `bytes`, passed to setfattr in hex. A link is not followed.
std::string setfattr_command(const std::string& path, const std::string& name,
                             const std::string& bytes);

}  // namespace endpointfix::offline::image
