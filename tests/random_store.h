// Random endpoint stores: names near the limits, values of many types and sizes, descriptions
// and form factors close to what the rules look for, and keys out of reach.
#pragma once

#include <algorithm>
#include <random>

#include "tests/rule_model.h"

namespace endpointfix::test {

// The Audio key: its "Capture" and "Render" children, when present, hold the endpoints.
class RandomStore {
public:
    // Names run up to `max_name` bytes (Wine's registry takes 256 at most).
    RandomStore(std::uint32_t seed, int max_endpoints, int max_name = 300)
        : max_name_(max_name), rng_(seed) {
        for (const char* root : {"Capture", "Render"}) {
            if (pick(5) == 0) continue;  // now and then a root is missing
            RandomKey& r = audio.children.emplace_back(RandomKey{root, {}, {}});
            for (int i = pick(max_endpoints + 1); i > 0; --i) add_endpoint(r, r.name == "Capture");
        }
    }

    // With `denials`, keys marked denied may not be opened.
    void seed(MemoryStore& store, bool denials = true) const {
        seed(store, kAudioKey, audio, denials);
    }

    RandomKey audio{"Audio", {}, {}};

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    Bytes random_bytes(int max_size) {
        Bytes b(pick(max_size + 1));
        for (auto& x : b) x = static_cast<std::uint8_t>(rng_());
        return b;
    }

    // Mostly short names; now and then one past the 255 bytes a key name may have.
    std::string unique_name(const RandomKey& parent) {
        static const char kChars[] = "abcxyzABCXYZ0129_[{}.-";
        while (true) {
            std::string n(pick(10) == 0 ? 250 + pick(max_name_ - 249) : 1 + pick(12), ' ');
            for (auto& c : n) c = kChars[pick(sizeof(kChars) - 1)];
            if (!std::any_of(parent.children.begin(), parent.children.end(),
                             [&](const RandomKey& k) { return same(k.name, n); }))
                return n;
        }
    }

    // Names the program looks for, now and then in another case.
    std::string special(std::string name) {
        if (pick(8) == 0)
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return std::toupper(c); });
        return name;
    }

    void add_value(RandomKey& key, std::string name, std::uint32_t type, Bytes bytes) {
        for (auto& [n, v] : key.values)
            if (same(n, name)) return;
        key.values.push_back({std::move(name), MemoryStore::Value{type, std::move(bytes)}});
    }

    void add_endpoint(RandomKey& root, bool capture) {
        static const char* const kDescriptions[] = {
            "WaveOut Mix",    "WaveOut Mix 2", "waveout mix", "WaveOut Mi", "WaveOut", "",
            "WaveOut Mix\xff"};
        RandomKey& ep =
            root.children.emplace_back(RandomKey{unique_name(root), {}, {}, pick(12) == 0});
        add_value(ep, "DeviceState", kDword, hex("04 00 00 00"));
        for (int p = pick(5); p > 0; --p) {
            RandomKey prop{unique_name(ep), {}, {}, pick(12) == 0};
            for (int v = pick(3); v > 0; --v)
                add_value(prop, std::string(1, 'v').append(1, static_cast<char>('0' + pick(9))),
                          1 + pick(11), random_bytes(pick(4) ? 16 : 1000));
            RandomKey* holder = &prop;
            if (pick(8) == 0)
                holder = &prop.children.emplace_back(RandomKey{"Deeper", {}, {}});  // out of reach
            if (capture && pick(3) > 0) {
                Bytes d = bytes(kDescriptions[pick(7)]);
                if (pick(6) == 0) d.resize(250 + pick(12), 'x');
                if (pick(2) == 0) d.push_back(0);
                add_value(*holder, special(kDescription), pick(2) ? kString : kBinary, d);
            } else if (!capture && pick(3) > 0) {
                Bytes f = hex("03 00 00 00 00 00 00 00");
                f.resize(pick(9));
                if (pick(3) == 0 && !f.empty()) f[0] = static_cast<std::uint8_t>(pick(5));
                if (pick(8) == 0 && f.size() > 1) f[1] = 1;
                add_value(*holder, special(kFormFactor), f.size() == 4 ? kDword : kBinary, f);
                if (pick(2) == 0)
                    add_value(*holder, special(kFormat), kBinary, random_bytes(pick(3) ? 48 : 600));
                if (pick(2) == 0)
                    add_value(*holder, special(kEightByte), kBinary,
                              random_bytes(pick(3) ? 16 : 600));
            }
            ep.children.push_back(std::move(prop));
        }
    }

    static void seed(MemoryStore& store, const std::string& path, const RandomKey& key,
                     bool denials) {
        store.create_key(path);
        if (key.denied && denials) store.deny_open(path);
        for (const auto& [n, v] : key.values) store.set_value(path, n, v.type, v.bytes);
        for (const RandomKey& child : key.children)
            seed(store, path + "\\" + child.name, child, denials);
    }

    int max_name_;
    std::mt19937 rng_;
};

}  // namespace endpointfix::test
