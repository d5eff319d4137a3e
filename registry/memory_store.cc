#include <cstring>

#include "registry/memory_node.h"
#include "registry/memory_store.h"

namespace endpointfix {

MemoryStore::MemoryStore() : root_(std::make_unique<Node>()) {}
MemoryStore::~MemoryStore() = default;

MemoryStore::Node* MemoryStore::resolve(KeyHandle key) const {
    if (key == kLocalMachine) return root_.get();
    return key.value - 1 < handles_.size() ? handles_[key.value - 1] : nullptr;
}

MemoryStore::Node* MemoryStore::find(std::string_view path) const {
    return descend(root_.get(), path);
}

Status MemoryStore::open(KeyHandle parent, const char* path, KeyHandle& out) {
    ++counts_.open;
    Node* node = resolve(parent);
    if (node == nullptr) return kInvalidHandle;
    node = descend(node, path);
    if (node == nullptr) return kFileNotFound;
    if (node->open_denied) return kAccessDenied;
    std::size_t slot = handles_.size();
    if (free_.empty()) {
        handles_.push_back(node);
    } else {
        slot = free_.back();
        free_.pop_back();
        handles_[slot] = node;
    }
    out = KeyHandle{slot + 1};
    return kSuccess;
}

Status MemoryStore::enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) {
    ++counts_.enumerate;
    Node* node = resolve(key);
    if (node == nullptr) return kInvalidHandle;
    const auto& children = node->ordered();
    if (index >= children.size()) return kNoMoreItems;
    const std::string& found = children[index]->name;
    if (found.size() >= kKeyNameBuffer) return kMoreData;
    std::memcpy(name, found.c_str(), found.size() + 1);
    return kSuccess;
}

Status MemoryStore::read_value(KeyHandle key, const char* name, std::uint8_t* data,
                               std::uint32_t& size) {
    std::uint32_t type;
    return read_typed(key, name, data, size, type);
}

Status MemoryStore::read_typed(KeyHandle key, const char* name, std::uint8_t* data,
                               std::uint32_t& size, std::uint32_t& type) {
    ++counts_.read;
    const Node* node = resolve(key);
    if (node == nullptr) return kInvalidHandle;
    const auto it = node->values.find(std::string_view(name));
    if (it == node->values.end()) return kFileNotFound;
    const auto& bytes = it->second.bytes;
    type = it->second.type;
    if (bytes.size() > size) {
        size = static_cast<std::uint32_t>(bytes.size());
        return kMoreData;
    }
    std::copy(bytes.begin(), bytes.end(), data);
    size = static_cast<std::uint32_t>(bytes.size());
    return kSuccess;
}

Status MemoryStore::write_value(KeyHandle key, const char* name, ValueType type,
                                const std::uint8_t* data, std::uint32_t size) {
    ++counts_.write;
    Node* node = resolve(key);
    if (node == nullptr) return kInvalidHandle;
    if (writes_denied_) return kAccessDenied;
    const auto t = static_cast<std::uint32_t>(type);
    std::vector<std::uint8_t> bytes(data, data + size);
    writes_.push_back(Write{node->path(), name, t, bytes});
    node->values.insert_or_assign(std::string(name), Value{t, std::move(bytes)});
    return kSuccess;
}

Status MemoryStore::close(KeyHandle key) {
    ++counts_.close;
    if (key == kLocalMachine || resolve(key) == nullptr) {
        ++bad_closes_;
        return kInvalidHandle;
    }
    handles_[key.value - 1] = nullptr;
    free_.push_back(key.value - 1);
    return kSuccess;
}

Status MemoryStore::probe_set_values(const char* path) {
    ++counts_.open;
    ++counts_.close;
    const Node* node = find(path);
    if (node == nullptr) return kFileNotFound;
    return node->open_denied || writes_denied_ ? kAccessDenied : kSuccess;
}

}  // namespace endpointfix
