// A hive file with nothing in it but its root key, written from scratch (libhivex cannot make
// one): a base block with its checksum, then one 4 KiB bin holding the root key, the security
// cell that every key points at (keys added later copy it from their parent), and free space.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace endpointfix::test {

inline bool write_empty_hive(const char* path) {
    std::vector<std::uint8_t> file(8192);
    auto put = [&](std::size_t at, std::uint32_t v, int bytes = 4) {
        for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<std::uint8_t>(v >> 8 * i);
    };
    auto text = [&](std::size_t at, const char* s) { std::memcpy(&file[at], s, std::strlen(s)); };
    // Base block: sequence numbers equal (clean), version 1.5, primary file, root cell at 0x20 of
    // the bins, 4096 bytes of bins.
    text(0, "regf");
    put(4, 1), put(8, 1), put(0x14, 1), put(0x18, 5), put(0x20, 1), put(0x24, 0x20);
    put(0x28, 4096), put(0x2c, 1);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 508; i += 4)
        sum ^= file[i] | file[i + 1] << 8 | file[i + 2] << 16 | std::uint32_t{file[i + 3]} << 24;
    put(0x1fc, sum == 0 ? 1 : sum == 0xffffffff ? 0xfffffffe : sum);
    // The bin, its cells at offsets from its start; a used cell's size is negative.
    const std::size_t bin = 4096, root = 0x20, sk = 0x78, free_cell = 0xe0;
    text(bin, "hbin");
    put(bin + 8, 4096);
    put(bin + root, -0x58);  // root key: "nk", flags hive entry | no delete | ASCII name
    text(bin + root + 4, "nk");
    put(bin + root + 6, 0x2c, 2);
    put(bin + root + 0x20, 0xffffffff), put(bin + root + 0x24, 0xffffffff);  // no subkeys
    put(bin + root + 0x2c, 0xffffffff);                                      // no values
    put(bin + root + 0x30, sk), put(bin + root + 0x34, 0xffffffff);          // security, class
    put(bin + root + 0x4c, 4, 2);
    text(bin + root + 0x50, "ROOT");
    // Security cell, its own neighbour in the ring, used by one key: a self-relative descriptor,
    // owner and group BUILTIN\Administrators, whose DACL grants Everyone every access.
    put(bin + sk, -0x68);
    text(bin + sk + 4, "sk");
    put(bin + sk + 8, sk), put(bin + sk + 12, sk), put(bin + sk + 16, 1), put(bin + sk + 20, 80);
    const std::uint8_t descriptor[80] = {
        1, 0,    0x04, 0x80, 20,   0, 0,    0, 36, 0, 0, 0, 0,    0, 0, 0, 52, 0, 0, 0,  // header
        1, 2,    0,    0,    0,    0, 0,    5, 32, 0, 0, 0, 0x20, 2, 0, 0,  // owner S-1-5-32-544
        1, 2,    0,    0,    0,    0, 0,    5, 32, 0, 0, 0, 0x20, 2, 0, 0,  // group, the same
        2, 0,    28,   0,    1,    0, 0,    0,                              // DACL, one ACE:
        0, 0x02, 20,   0,    0x3f, 0, 0x0f, 0,  // allowed, inherited by subkeys, KEY_ALL_ACCESS, to
        1, 1,    0,    0,    0,    0, 0,    1, 0,  0, 0, 0,  // S-1-1-0, Everyone
    };
    std::memcpy(&file[bin + sk + 24], descriptor, sizeof(descriptor));
    put(bin + free_cell, 4096 - free_cell);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(out.flush());
}

}  // namespace endpointfix::test
