// The backing file a qcow2 image names, read from its header's bytes alone: nothing is opened
// through it.
#pragma once

#include <string>
#include <string_view>

namespace endpointfix::offline::image {

// How many bytes of an image the header reader is given at most: where the name lies past them,
// it says so.
constexpr std::size_t kBackingHeaderBytes = 64 * 1024;

struct BackingFile {
    std::string name;        // as the header spells it; empty where none is named or it is unread
    std::string unreadable;  // why the name cannot be read, in a phrase; empty where it was
};

// The backing file named by the qcow2 header at the start of `bytes`: its offset is the 64-bit
// big-endian number at byte 8, its size the 32-bit one at byte 16. Every offset and size is
// checked against the bytes given; a header that is not qcow2's, or names none, gives neither.
BackingFile qcow2_backing_file(std::string_view bytes);

}  // namespace endpointfix::offline::image
