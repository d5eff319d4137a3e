#include "registry/memory_store.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

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

// Names are enumerated in the order of their lower-cased form, as Wine's registry keeps them:
// "_x" comes before "A".
bool no_case_less(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lower(x) < lower(y); });
}

// Lookups hash the lower-cased name, so they cost the same however many siblings a key has.
struct NoCaseHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const {
        std::uint64_t h = 14695981039346656037ull;  // FNV-1a
        for (char c : s) h = (h ^ lower(c)) * 1099511628211ull;
        return static_cast<std::size_t>(h);
    }
};
struct NoCaseEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
    }
};
template <typename T>
using NoCaseMap = std::unordered_map<std::string, T, NoCaseHash, NoCaseEqual>;

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
    NoCaseMap<std::unique_ptr<Node>> children;
    mutable std::vector<const Node*> order;  // children by index, rebuilt after a key is added
    mutable bool order_stale = false;
    NoCaseMap<Value> values;
    bool open_denied = false;

    const std::vector<const Node*>& ordered() const {
        if (order_stale) {
            order.clear();
            for (const auto& [n, c] : children) order.push_back(c.get());
            std::sort(order.begin(), order.end(),
                      [](const Node* a, const Node* b) { return no_case_less(a->name, b->name); });
            order_stale = false;
        }
        return order;
    }

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
    if (node == nullptr) return kNotFound;
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
    if (key == kLocalMachine || resolve(key) == nullptr) {
        ++bad_closes_;
        return kInvalidHandle;
    }
    handles_[key.value - 1] = nullptr;
    free_.push_back(key.value - 1);
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
        std::vector<const std::pair<const std::string, Value>*> values;
        for (const auto& entry : node.values) values.push_back(&entry);
        std::sort(values.begin(), values.end(),
                  [](const auto* a, const auto* b) { return no_case_less(a->first, b->first); });
        for (const auto* entry : values) {
            out += key + ' ' + entry->first + '=' + std::to_string(entry->second.type) + ':';
            for (auto b : entry->second.bytes) out += {kHex[b >> 4], kHex[b & 15]};
            out += '\n';
        }
        for (const Node* child : node.ordered()) self(self, *child);
    };
    visit(visit, *root_);
    return out;
}

}  // namespace endpointfix
