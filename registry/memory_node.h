// The in-memory registry's tree, shared by the files that implement MemoryStore.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/memory_store.h"

namespace endpointfix::memory_detail {

inline unsigned char lower(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

// Names are enumerated in the order of their lower-cased form, as Wine's registry keeps them:
// "_x" comes before "A".
inline bool no_case_less(std::string_view a, std::string_view b) {
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
               std::equal(a.begin(), a.end(), b.begin(),
                          [](char x, char y) { return lower(x) == lower(y); });
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

}  // namespace endpointfix::memory_detail

namespace endpointfix {

struct MemoryStore::Node {
    std::string name;
    Node* parent = nullptr;
    memory_detail::NoCaseMap<std::unique_ptr<Node>> children;
    mutable std::vector<const Node*> order;  // children by index, rebuilt after a key is added
    mutable bool order_stale = false;
    memory_detail::NoCaseMap<Value> values;
    bool open_denied = false;

    const std::vector<const Node*>& ordered() const {
        if (order_stale) {
            order.clear();
            for (const auto& [n, c] : children) order.push_back(c.get());
            std::sort(order.begin(), order.end(), [](const Node* a, const Node* b) {
                return memory_detail::no_case_less(a->name, b->name);
            });
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
inline MemoryStore::Node* descend(MemoryStore::Node* from, std::string_view path) {
    const bool found = memory_detail::for_each_level(path, [&](std::string_view level) {
        from = from->child(level);
        return from != nullptr;
    });
    return found ? from : nullptr;
}

}  // namespace endpointfix
