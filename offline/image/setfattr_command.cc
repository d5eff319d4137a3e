#include "offline/image/setfattr_command.h"

namespace endpointfix::offline::image {
namespace {

// `text` as one word for /bin/sh.
std::string quoted(const std::string& text) {
    std::string word = "'";
    for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

}  // namespace

std::string setfattr_command(const std::string& path, const std::string& name,
                             const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string value = bytes.empty() ? "''" : "0x";
    for (const unsigned char byte : bytes) value += digits[byte >> 4], value += digits[byte & 15];
    return "setfattr -h -n " + quoted(name) + " -v " + value + " -- \"$root\"" + quoted(path);
}

}  // namespace endpointfix::offline::image
