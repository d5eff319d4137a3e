#include "offline/image/attribute_shell.h"

namespace endpointfix::offline::image {
namespace {

// `text` as one word for /bin/sh.
std::string quoted(const std::string& text) {
    std::string word = "'";
    for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string setfattr_command(const std::string& path, const std::string& name,
                             const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string value = bytes.empty() ? "''" : "0x";
    for (const unsigned char byte : bytes) value += digits[byte >> 4], value += digits[byte & 15];
    return "setfattr -h -n " + quoted(name) + " -v " + value + " -- \"$root\"" + quoted(path);
}

std::string getfattr_command(const std::string& path, const std::string& name) {
    return "getfattr --absolute-names -h -e hex -n " + quoted(name) + " -- \"$root\"" +
           quoted(path) + " 2>&1; true";
}

// getfattr prints "NAME=0xHEX" on a line of its own ("NAME" alone for an empty value).
std::optional<std::string> getfattr_value(const std::string& printed, const std::string& name) {
    for (std::size_t at = 0; at < printed.size();) {
        std::size_t end = printed.find('\n', at);
        if (end == printed.npos) end = printed.size();
        const std::string line = printed.substr(at, end - at);
        at = end + 1;
        if (line == name) return std::string();
        if (line.rfind(name + "=0x", 0) != 0 || (line.size() - name.size() - 3) % 2 != 0) continue;
        std::string bytes;
        for (std::size_t i = name.size() + 3; i + 1 < line.size(); i += 2) {
            const int high = hex_digit(line[i]), low = hex_digit(line[i + 1]);
            if (high < 0 || low < 0) return std::nullopt;
            bytes += static_cast<char>(high * 16 + low);
        }
        return bytes;
    }
    return std::nullopt;
}

}  // namespace endpointfix::offline::image
