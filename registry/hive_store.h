// RegistryStore over a hive file (the SOFTWARE hive of an installation that is not running),
// read and changed in memory through libhivex. The hive's root key stands for
// HKEY_LOCAL_MACHINE\SOFTWARE: "SOFTWARE\..." below kLocalMachine opens a key of the hive, and any
// other path below it is not found. Names match without regard to case; subkeys enumerate in the
// hive's own order. Names and string values are handed over as Windows-1252 text, as the
// platform's ANSI functions hand them over (registry/code_page.h), and the capacity of a read
// applies to that text; other values are byte for byte. Nothing reaches the file until commit.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "registry/registry_store.h"
#include "registry/result.h"
#include "registry/store_inspector.h"

namespace endpointfix {

class HiveStore final : public RegistryStore, public StoreInspector {
public:
    // Opens the hive file at `path`, writable in memory where `writable`. Returns null where
    // libhivex cannot read it as a hive, `result` then saying why in a phrase that follows the
    // hive's name ("its cells are damaged, so it cannot be read as a hive: ...").
    static std::unique_ptr<HiveStore> open_file(const char* path, bool writable, Result& result);
    ~HiveStore() override;

    Status open(KeyHandle parent, const char* path, KeyHandle& out) override;
    Status enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) override;
    Status read_value(KeyHandle key, const char* name, std::uint8_t* data,
                      std::uint32_t& size) override;
    Status write_value(KeyHandle key, const char* name, ValueType type, const std::uint8_t* data,
                       std::uint32_t size) override;
    Status close(KeyHandle key) override;

    Status read_typed(KeyHandle key, const char* name, std::uint8_t* data, std::uint32_t& size,
                      std::uint32_t& type) override;
    // A hive file has no account to ask: whoever may replace the file may change any key, so
    // this succeeds wherever the key exists.
    Status probe_set_values(const char* path) override;

    // Seeding, for hives made by tests and the benchmark: creates the keys of `path` (below
    // kLocalMachine, "SOFTWARE\...") that are missing.
    Status create_key(const char* path);

    // Writes the hive, with every change made, as a new file at `path` (created or truncated),
    // stamped with the time of the commit as Windows stamps a hive it writes: the base block,
    // and each key a value was set in since the hive was opened (registry/hive_times.h).
    // On failure the file at `path` is to be discarded.
    Result commit(const char* path);

    // The last-write time of an open key, as a FILETIME.
    Status last_write(KeyHandle key, std::uint64_t& filetime);

    // The keys whose last-write times differ between two hives that hold the same keys (one
    // written from the other), by their paths below kLocalMachine ("SOFTWARE\..."); keys pair
    // up by their places in the two trees. Returns false where the trees differ in shape, or
    // either cannot be read where the other can.
    static bool moved_keys(HiveStore& before, HiveStore& after, std::vector<std::string>& moved);

private:
    struct Hive;
    explicit HiveStore(std::unique_ptr<Hive> hive);
    std::unique_ptr<Hive> hive_;
};

}  // namespace endpointfix
