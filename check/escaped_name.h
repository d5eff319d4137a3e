// Names from a file system, shown in the offline programs' messages. Beside the check's text
// (check/text.h), whose escaping of registry text it shares, but apart from it: the Windows check
// has no use for it, and its strings would bring the C++ library's exception support along.
#pragma once

#include <string>
#include <string_view>

namespace endpointfix {

// A name from a file system, or a message that holds names (bytes, UTF-8 where well formed), as
// one line that cannot control a terminal: each control character (below 0x20, 0x7f, and
// U+0080 to U+009F) and each byte that is no part of a well-formed UTF-8 character as \xHH,
// every byte of it; the rest as it stands.
std::string escaped_name(std::string_view text);

}  // namespace endpointfix
