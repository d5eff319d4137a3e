// Lays a random endpoint store into the platform registry and lists it back, and lists what the
// run sequence makes of the same store in memory, so that a script can compare the program on a
// real registry with the in-memory store. Modes:
//   seed SEED N            replace the Audio key with random store SEED (N endpoints at most)
//   dump                   list the Audio key
//   memory SEED N before   list random store SEED in memory (`after`: after a run)
// Lists are MemoryStore::dump lines. Keys that may not be opened are left out on both sides.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/random_store.h"

namespace endpointfix::test {
namespace {

constexpr REGSAM kNative = KEY_WOW64_64KEY;

void seed(HKEY parent, const RandomKey& key) {
    HKEY made;
    if (RegCreateKeyExA(parent, key.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kNative, nullptr,
                        &made, nullptr) != ERROR_SUCCESS) {
        std::fprintf(stderr, "cannot create key %s\n", key.name.c_str());
        std::exit(2);
    }
    for (const auto& [name, value] : key.values)
        RegSetValueExA(made, name.c_str(), 0, value.type, value.bytes.data(),
                       static_cast<DWORD>(value.bytes.size()));
    for (const RandomKey& child : key.children) seed(made, child);
    RegCloseKey(made);
}

void dump(HKEY key, const std::string& path) {
    std::printf("[%s]\n", path.c_str());
    char name[16384];
    static BYTE data[1 << 16];
    for (DWORD i = 0;; ++i) {
        DWORD name_size = sizeof(name), type = 0, size = sizeof(data);
        if (RegEnumValueA(key, i, name, &name_size, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        std::printf("[%s] %s=%lu:%s\n", path.c_str(), name, type,
                    hex_string(Bytes(data, data + size)).c_str());
    }
    for (DWORD i = 0;; ++i) {
        DWORD name_size = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY child;
        if (RegOpenKeyExA(key, name, 0, KEY_READ | kNative, &child) != ERROR_SUCCESS) continue;
        dump(child, path + "\\" + name);
        RegCloseKey(child);
    }
}

}  // namespace
}  // namespace endpointfix::test

int main(int argc, char** argv) {
    using namespace endpointfix::test;
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::string parent = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices";
    if (mode == "memory" && argc == 5) {
        endpointfix::MemoryStore store;
        RandomStore(std::atoi(argv[2]), std::atoi(argv[3]), 256).seed(store, false);
        if (std::string(argv[4]) == "after") endpointfix::run(store);
        std::fputs(store.dump().c_str(), stdout);
        return 0;
    }
    HKEY mmdevices;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, parent.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kNative,
                        nullptr, &mmdevices, nullptr) != ERROR_SUCCESS)
        return 2;
    if (mode == "seed" && argc == 4) {
        RegDeleteTreeA(mmdevices, "Audio");
        seed(mmdevices, RandomStore(std::atoi(argv[2]), std::atoi(argv[3]), 256).audio);
    } else if (mode == "dump") {
        HKEY audio;
        if (RegOpenKeyExA(mmdevices, "Audio", 0, KEY_READ | kNative, &audio) != ERROR_SUCCESS)
            return 2;
        dump(audio, parent + "\\Audio");
        RegCloseKey(audio);
    } else {
        return 2;
    }
    RegCloseKey(mmdevices);
    return 0;
}
