// big_hive FILE MEGABYTES: writes a SOFTWARE hive of about that size for the offline benchmark:
// the realistic endpoint store of 1,000 endpoints, and beside it keys of an ordinary
// installation's shape (classes, a few values each: a name, a number, a blob) to fill it up.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/realistic_store.h"
#include "registry/hive_store.h"
#include "tests/empty_hive.h"

namespace {

using namespace endpointfix;

void put(HiveStore& hive, const std::string& key, const char* name, std::uint32_t type,
         const std::vector<std::uint8_t>& bytes) {
    KeyHandle handle;
    hive.create_key(key.c_str());
    if (hive.open(kLocalMachine, key.c_str(), handle) != kSuccess) std::exit(1);
    hive.write_value(handle, name, static_cast<ValueType>(type), bytes.data(),
                     static_cast<std::uint32_t>(bytes.size()));
    hive.close(handle);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const long keys = std::atol(argv[2]) * 450;  // some 2.2 KB a key, with its cells and lists
    if (!test::write_empty_hive(argv[1])) return 1;
    Result opened;
    auto hive = HiveStore::open_file(argv[1], true, opened);
    if (!hive) return 1;
    for (const auto& v : bench::realistic_store(1000))
        put(*hive, v.key, v.name.c_str(), v.type, v.bytes);
    std::vector<std::uint8_t> blob(640), text;
    for (char c : std::string("A component of an ordinary installation, its name and its path"))
        text.push_back(static_cast<std::uint8_t>(c));
    text.push_back(0);
    for (long i = 0; i < keys; ++i) {
        char key[96];
        std::snprintf(key, sizeof(key),
                      "SOFTWARE\\Classes\\Group%03ld\\{%08lx-1111-2222-3333-%012ld}", i % 500,
                      i * 2654435761ul % 0xffffffff, i);
        for (std::size_t b = 0; b < blob.size(); ++b) blob[b] = static_cast<std::uint8_t>(i + b);
        put(*hive, key, "", 1, text);
        put(*hive, key, "Version", 4, {1, 0, static_cast<std::uint8_t>(i), 0});
        put(*hive, key, "Data", 3, blob);
    }
    return hive->commit(argv[1]).ok() ? 0 : 1;
}
