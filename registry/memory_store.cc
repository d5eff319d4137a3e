#include "registry/memory_store.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace endpointfix {
namespace {

// Error codes as the platform registry reports them, so that results read alike.
constexpr Status kNotFound = 2;
constexpr Status kAccessDenied = 5;
constexpr Status kInvalidHandle = 6;
constexpr Status kMoreData = 234;
constexpr Status kNoMoreItems = 259;

constexpr char kHex[] = "0123456789abcdef";

unsigned char lower(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

// Names are kept in the order of their lower-cased form, as Wine's registry keeps them: "_x"
// comes before "A".
struct NoCaseLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return lower(x) < lower(y); });
    }
};

template <typename F>
bool for_each_level(std::string_view path, F&& step) {
    while (true) {
        const auto cut = path.find('\\');
        const auto level = path.substr(0, cut);
        if (level.empty() || !step(level)) return false;
        if (cut == std::string_view::npos) return true;
        path.remove_prefix(cut + 1);
    }
}

}  // namespace

struct MemoryStore::Node {
    std::string name;
    Node* parent = nullptr;
    std::map<std::string, std::unique_ptr<Node>, NoCaseLess> children;
    std::vector<const Node*> order;  // children by index, rebuilt after a key is added
    bool order_stale = false;
    std::map<std::string, Value, NoCaseLess> values;
    bool open_denied = false;

    Node* child(std::string_view n) const {
        const auto it = children.find(n);
        return it == children.end() ? nullptr : it->second.get();
    }
    std::string path() const {
        if (parent == nullptr) return {};
        const std::string up = parent->path();
        return up.empty() ? name : up + '\\' + name;
    }
};

// The key `path` names below `from`, or null when a level is missing or empty.
static MemoryStore::Node* descend(MemoryStore::Node* from, std::string_view path) {
    const bool found = for_each_level(path, [&](std::string_view level) {
        from = from->child(level);
        return from != nullptr;
    });
    return found ? from : nullptr;
}

MemoryStore::MemoryStore() : root_(std::make_unique<Node>()) {}
MemoryStore::~MemoryStore() = default;

MemoryStore::Node* MemoryStore::resolve(KeyHandle key) const {
    if (key == kLocalMachine) return root_.get();
    const auto it = handles_.find(key.value);
    return it == handles_.end() ? nullptr : it->second;
}

MemoryStore::Node* MemoryStore::find(std::string_view path) const {
    return descend(root_.get(), path);
}

Status MemoryStore::open(KeyHandle parent, const char* path, KeyHandle& out) {
    ++counts_.open;
    Node* node = resolve(parent);
    if (node == nullptr) return kInvalidHandle;
    node = descend(node, path);
    if (node == nullptr) return kNotFound;
    if (node->open_denied) return kAccessDenied;
    out = KeyHandle{next_handle_++};
    handles_.emplace(out.value, node);
    return kSuccess;
}

Status MemoryStore::enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) {
    ++counts_.enumerate;
    Node* node = resolve(key);
    if (node == nullptr) return kInvalidHandle;
    if (node->order_stale) {
        node->order.clear();
        for (const auto& [n, c] : node->children) node->order.push_back(c.get());
        node->order_stale = false;
    }
    if (index >= node->order.size()) return kNoMoreItems;
    const std::string& found = node->order[index]->name;
    if (found.size() >= kKeyNameBuffer) return kMoreData;
    std::memcpy(name, found.c_str(), found.size() + 1);
    return kSuccess;
}

Status MemoryStore::read_value(KeyHandle key, const char* name, std::uint8_t* data,
                               std::uint32_t& size) {
    ++counts_.read;
    const Node* node = resolve(key);
    if (node == nullptr) return kInvalidHandle;
    const auto it = node->values.find(std::string_view(name));
    if (it == node->values.end()) return kNotFound;
    const auto& bytes = it->second.bytes;
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
    if (handles_.erase(key.value) == 0) {
        ++bad_closes_;
        return kInvalidHandle;
    }
    return kSuccess;
}

void MemoryStore::create_key(std::string_view path) {
    Node* node = root_.get();
    for_each_level(path, [&](std::string_view level) {
        Node* next = node->child(level);
        if (next == nullptr) {
            auto made = std::make_unique<Node>();
            made->name = std::string(level);
            made->parent = node;
            next = made.get();
            node->children.emplace(made->name, std::move(made));
            node->order_stale = true;
        }
        node = next;
        return true;
    });
}

void MemoryStore::set_value(std::string_view path, std::string_view name, std::uint32_t type,
                            std::vector<std::uint8_t> bytes) {
    create_key(path);
    find(path)->values.insert_or_assign(std::string(name), Value{type, std::move(bytes)});
}

void MemoryStore::set_string(std::string_view path, std::string_view name, std::string_view text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);  // the registry counts a string's terminating zero in its size
    set_value(path, name, static_cast<std::uint32_t>(ValueType::kString), std::move(bytes));
}

void MemoryStore::deny_open(std::string_view path) {
    create_key(path);
    find(path)->open_denied = true;
}

const MemoryStore::Value* MemoryStore::find_value(std::string_view path,
                                                  std::string_view name) const {
    const Node* node = find(path);
    if (node == nullptr) return nullptr;
    const auto it = node->values.find(name);
    return it == node->values.end() ? nullptr : &it->second;
}

std::string MemoryStore::dump() const {
    std::string out;
    auto visit = [&](auto& self, const Node& node) -> void {
        const std::string key = '[' + node.path() + ']';
        out += key + '\n';
        for (const auto& [name, value] : node.values) {
            out += key + ' ' + name + '=' + std::to_string(value.type) + ':';
            for (auto b : value.bytes) out += {kHex[b >> 4], kHex[b & 15]};
            out += '\n';
        }
        for (const auto& [name, child] : node.children) self(self, *child);
    };
    visit(visit, *root_);
    return out;
}

}  // namespace endpointfix
