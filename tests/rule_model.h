// What a run over an endpoint store must write, worked out from first principles rather than
// with the program's own rule code: the rules as a user would state them, over a plain tree.
#pragma once

#include <algorithm>
#include <cstring>

#include "tests/endpoint_store.h"

namespace endpointfix::test {

inline const std::string kAudioKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio";

inline std::string hex_string(const Bytes& bytes) {
    std::string s;
    for (auto b : bytes) s += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    return s;
}

struct RandomKey {
    std::string name;
    std::vector<std::pair<std::string, MemoryStore::Value>> values;
    std::vector<RandomKey> children;
    bool denied = false;  // may not be opened
};

inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline bool same(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}
inline const Bytes* value(const RandomKey& key, const std::string& name) {
    for (const auto& [n, v] : key.values)
        if (same(n, name)) return &v.bytes;
    return nullptr;
}
inline bool readable(const RandomKey& key, const std::string& name) {
    const Bytes* v = value(key, name);
    return v != nullptr && v->size() <= 256;
}
inline bool matches_capture(const RandomKey& prop) {
    const Bytes* d = value(prop, kDescription);
    return d && d->size() <= 256 && d->size() >= 11 &&
           std::memcmp(d->data(), "WaveOut Mix", 11) == 0;
}
inline bool matches_render(const RandomKey& prop) {
    const Bytes* f = value(prop, kFormFactor);
    if (f == nullptr || f->size() > 4) return false;
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < f->size(); ++i) n |= std::uint32_t{(*f)[i]} << (8 * i);
    return n == 3;
}
// Registry order (lower-cased names); enumeration stops at a name over 255 bytes.
inline std::vector<const RandomKey*> in_order(const std::vector<RandomKey>& keys, bool all) {
    std::vector<const RandomKey*> out;
    for (const RandomKey& k : keys) out.push_back(&k);
    std::sort(out.begin(), out.end(), [](const RandomKey* a, const RandomKey* b) {
        return std::lexicographical_compare(
            a->name.begin(), a->name.end(), b->name.begin(), b->name.end(), [](char x, char y) {
                return static_cast<unsigned char>(lower(x)) < static_cast<unsigned char>(lower(y));
            });
    });
    const auto cut = std::find_if(out.begin(), out.end(),
                                  [](const RandomKey* k) { return k->name.size() > 255; });
    if (!all) out.erase(cut, out.end());
    return out;
}

// The writes of a run, in order, as "path|name|type|hex". With `every_candidate`, every
// write a run may make when the registry fails it somewhere (one per matching key).
inline std::vector<std::string> expected_writes(const RandomKey& audio, bool every_candidate) {
    std::vector<std::string> out;
    for (const RandomKey& root : audio.children) {
        const bool capture = root.name == "Capture";
        for (const RandomKey* ep : in_order(root.children, every_candidate)) {
            if (ep->denied) continue;
            const std::string ep_path = kAudioKey + "\\" + root.name + "\\" + ep->name;
            for (const RandomKey* prop : in_order(ep->children, every_candidate)) {
                if (prop->denied) continue;
                if (capture && matches_capture(*prop)) {
                    out.push_back(ep_path + "|DeviceState|4|01000000");
                } else if (!capture && matches_render(*prop)) {
                    const std::string at = ep_path + "\\" + prop->name + "|";
                    if (every_candidate || !readable(*prop, kFormat))
                        out.push_back(at + kFormat + "|3|" + hex_string(kWantFormat));
                    if (every_candidate || !readable(*prop, kEightByte))
                        out.push_back(at + kEightByte + "|3|" + hex_string(kWantEightByte));
                } else {
                    continue;
                }
                if (!every_candidate) break;
            }
        }
    }
    return out;
}

// The writes a store has seen, as "path|name|type|hex".
inline std::vector<std::string> write_log(const MemoryStore& store) {
    std::vector<std::string> out;
    for (const auto& w : store.writes())
        out.push_back(w.key_path + "|" + w.name + "|" + std::to_string(w.type) + "|" +
                      hex_string(w.bytes));
    return out;
}

}  // namespace endpointfix::test
