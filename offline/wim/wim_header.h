// How a Windows installation image is told from a disk image: by its header, whatever its name.
#pragma once

#include <string>
#include <string_view>

namespace endpointfix::offline::wim {

// Whether `bytes` begin as a WIM's header does, "MSWIM\0\0\0": an ESD's and a split WIM's parts
// too; or as a pipable WIM's, "WLPWM\0\0\0" (wimlib's own kind, written to be read as a stream).
bool is_wim_header(std::string_view bytes);

// Whether the file at `path` begins so; false where it cannot be read.
bool is_wim_file(const std::string& path);

}  // namespace endpointfix::offline::wim
