// Test helpers: the endpoint store's names and the byte strings the program must write, spelled
// out here independently of the program's own constants.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/run.h"
#include "registry/memory_store.h"

namespace endpointfix::test {

using Bytes = std::vector<std::uint8_t>;

inline const std::string kCapture =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture";
inline const std::string kRender =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Render";
inline const std::string kDescription = "{a45c254e-df1c-4efd-8020-67d146a850e0},2";
inline const std::string kFormFactor = "{1da5d803-d492-4edd-8c23-e0c0ffee7f0e},0";
inline const std::string kFormat = "{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},0";
inline const std::string kEightByte = "{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},1";
inline constexpr std::uint32_t kBinary = 3, kDword = 4, kString = 1;

// "41 00 86 ..." to bytes.
inline Bytes hex(std::string_view text) {
    Bytes out;
    for (std::size_t i = 0; i < text.size(); i += 3)
        out.push_back(
            static_cast<std::uint8_t>(std::stoul(std::string(text.substr(i, 2)), nullptr, 16)));
    return out;
}

inline const Bytes kWantFormat =
    hex("41 00 86 74 28 00 00 00 FE FF 02 00 80 BB 00 00 00 DC 05 00 08 00 20 00 16 00 20 00 "
        "03 00 00 00 03 00 00 00 00 00 10 00 80 00 00 AA 00 38 9B 71");
inline const Bytes kWantEightByte = hex("41 00 63 00 08 00 00 00 A0 86 01 00 00 00 00 00");
inline const Bytes kActive = hex("01 00 00 00");

inline Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Runs the program on `store` and checks the handle accounts it must leave behind.
inline void run_checked(MemoryStore& store) {
    EXPECT_EQ(run(store), 0);
    EXPECT_EQ(store.open_handles(), 0u) << "handles left open";
    EXPECT_EQ(store.bad_closes(), 0u) << "closes of handles that were not open";
}

// The key paths of the writes the store has seen, in order, each as "path|name".
inline std::vector<std::string> written(const MemoryStore& store) {
    std::vector<std::string> out;
    for (const auto& w : store.writes()) out.push_back(w.key_path + "|" + w.name);
    return out;
}

}  // namespace endpointfix::test
