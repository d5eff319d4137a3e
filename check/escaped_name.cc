#include "check/escaped_name.h"

#include <cstdio>

#include "check/text.h"
#include "registry/code_page.h"

namespace endpointfix {

std::string escaped_name(std::string_view text) {
    std::string out;
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t i = 0, length = 1; i < text.size(); i += length) {
        const char32_t c = utf8_character(s + i, text.size() - i, length);
        const bool character = c < kNotUtf8 && (c < 0xd800 || c >= 0xe000);
        if (!character) length = 1;
        if (character && (c >= 0xa0 || !is_control(static_cast<std::uint8_t>(c)))) {
            out.append(text.substr(i, length));
            continue;
        }
        for (std::size_t k = 0; k < length; ++k) {
            char escaped[5];
            std::snprintf(escaped, sizeof(escaped), "\\x%02x", s[i + k]);
            out += escaped;
        }
    }
    return out;
}

}  // namespace endpointfix
