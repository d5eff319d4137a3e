// A registry held in memory that behaves, for the five operations, as the platform registry
// does: names match case-insensitively, subkeys enumerate in a stable sorted order, reads fail
// when the value is absent or larger than the capacity. It also keeps the accounts that tests
// need: open handles, bad closes, operation counts and a log of writes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry_store.h"
#include "registry/store_inspector.h"

namespace endpointfix {

class MemoryStore final : public RegistryStore, public StoreInspector {
public:
    struct Value {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> bytes;
        friend bool operator==(const Value&, const Value&) = default;
    };
    struct Write {
        std::string key_path;  // below HKEY_LOCAL_MACHINE
        std::string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> bytes;
    };
    struct Counts {
        std::uint64_t open = 0, enumerate = 0, read = 0, write = 0, close = 0;
    };

    MemoryStore();
    ~MemoryStore() override;

    Status open(KeyHandle parent, const char* path, KeyHandle& out) override;
    Status enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) override;
    Status read_value(KeyHandle key, const char* name, std::uint8_t* data,
                      std::uint32_t& size) override;
    Status write_value(KeyHandle key, const char* name, ValueType type, const std::uint8_t* data,
                       std::uint32_t size) override;
    Status close(KeyHandle key) override;

    // The check's questions. Keys whose writes are denied cannot be opened to set values.
    Status read_typed(KeyHandle key, const char* name, std::uint8_t* data, std::uint32_t& size,
                      std::uint32_t& type) override;
    Status probe_set_values(const char* path) override;

    // Seeding, by paths below HKEY_LOCAL_MACHINE; missing keys on the way are created.
    void create_key(std::string_view path);
    void set_value(std::string_view path, std::string_view name, std::uint32_t type,
                   std::vector<std::uint8_t> bytes);
    void set_string(std::string_view path, std::string_view name, std::string_view text);
    // Opens of this key fail as they would for a user without rights to it.
    void deny_open(std::string_view path);
    // Every write fails from now on.
    void deny_writes() { writes_denied_ = true; }

    // Inspection.
    const Value* find_value(std::string_view path, std::string_view name) const;
    std::size_t open_handles() const { return handles_.size() - free_.size(); }
    std::size_t bad_closes() const { return bad_closes_; }
    const std::vector<Write>& writes() const { return writes_; }
    const Counts& counts() const { return counts_; }
    // Every key as "[path]" and every value as "[path] name=type:hex", one a line, in
    // enumeration order: for whole-store comparisons.
    std::string dump() const;

    struct Node;

private:
    Node* resolve(KeyHandle key) const;
    Node* find(std::string_view path) const;
    Node* make_key(std::string_view path);  // find, creating missing keys on the way

    std::unique_ptr<Node> root_;
    // Handle h is slot h - 1; closed slots are null and reused, as the platform reuses handles.
    std::vector<Node*> handles_;
    std::vector<std::size_t> free_;
    std::size_t bad_closes_ = 0;
    bool writes_denied_ = false;
    std::vector<Write> writes_;
    Counts counts_;
};

}  // namespace endpointfix
