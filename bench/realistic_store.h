// A deterministic endpoint store of a realistic shape: half capture, half render endpoints, each
// with "DeviceState" and two property keys of a few values; about one endpoint in ten matches
// its pass's rule.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace endpointfix::bench {

struct StoredValue {
    std::string key;  // below HKEY_LOCAL_MACHINE
    std::string name;
    std::uint32_t type;
    std::vector<std::uint8_t> bytes;
};

inline std::vector<StoredValue> realistic_store(int endpoints) {
    const std::string audio = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\";
    const auto text = [](const std::string& s) {
        std::vector<std::uint8_t> b(s.begin(), s.end());
        b.push_back(0);
        return b;
    };
    const auto dword = [](std::uint32_t v) {
        return std::vector<std::uint8_t>{std::uint8_t(v), std::uint8_t(v >> 8),
                                         std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
    };
    std::vector<StoredValue> out;
    for (int i = 0; i < endpoints; ++i) {
        const bool capture = i % 2 == 0, match = i % 20 < 2;
        char id[64];
        std::snprintf(id, sizeof(id), "{0.0.%d.00000000}.{%08x-0000-4000-8000-%012x}", capture,
                      i * 2654435761u, i);
        const std::string ep = audio + (capture ? "Capture\\" : "Render\\") + id;
        out.push_back({ep, "DeviceState", 4, dword(capture ? 2 : 1)});
        out.push_back({ep + "\\FxProperties", "{d04e05a6-594b-4fb6-a80d-01af5eed7d1d},1", 1,
                       text("{62dc1a93-ae24-464c-a43e-452f824c4250}")});
        out.push_back({ep + "\\FxProperties", "{d04e05a6-594b-4fb6-a80d-01af5eed7d1d},2", 1,
                       text("{637c490d-eee3-4c0a-973f-371958802da2}")});
        const std::string props = ep + "\\Properties";
        out.push_back({props, "{a45c254e-df1c-4efd-8020-67d146a850e0},2", 1,
                       text(capture ? (match ? "WaveOut Mix" : "Microphone") : "Speakers")});
        out.push_back({props, "{1da5d803-d492-4edd-8c23-e0c0ffee7f0e},0", 4,
                       dword(capture ? 4
                             : match ? 3
                                     : 1)});
        out.push_back({props, "{b3f8fa53-0004-438e-9003-51a46e139bfc},6", 1,
                       text("High Definition Audio Device")});
    }
    return out;
}

}  // namespace endpointfix::bench
