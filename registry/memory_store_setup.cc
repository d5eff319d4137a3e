// Seeding and inspection of the in-memory registry, for tests and tools.
#include "registry/memory_node.h"
#include "registry/memory_store.h"

namespace endpointfix {
namespace {

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

MemoryStore::Node* MemoryStore::make_key(std::string_view path) {
    Node* node = root_.get();
    memory_detail::for_each_level(path, [&](std::string_view level) {
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
    return node;
}

void MemoryStore::create_key(std::string_view path) { make_key(path); }

void MemoryStore::set_value(std::string_view path, std::string_view name, std::uint32_t type,
                            std::vector<std::uint8_t> bytes) {
    make_key(path)->values.insert_or_assign(std::string(name), Value{type, std::move(bytes)});
}

void MemoryStore::set_string(std::string_view path, std::string_view name, std::string_view text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);  // the registry counts a string's terminating zero in its size
    set_value(path, name, static_cast<std::uint32_t>(ValueType::kString), std::move(bytes));
}

void MemoryStore::deny_open(std::string_view path) {
    make_key(path)->open_denied = true;
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
        std::sort(values.begin(), values.end(), [](const auto* a, const auto* b) {
            return memory_detail::no_case_less(a->first, b->first);
        });
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
