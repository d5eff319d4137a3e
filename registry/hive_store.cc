// The hive binding: the only file that sees libhivex.
#include "registry/hive_store.h"

#include <hivex.h>
#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "registry/code_page.h"
#include "registry/hive_times.h"

namespace endpointfix {
namespace {

// What libhivex returns in memory from malloc, freed with the owner.
struct Freed {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Malloced = std::unique_ptr<T, Freed>;

// A value's type as the file stores it: any 32-bit number, not only those hive_type names.
using StoredType = std::underlying_type_t<hive_type>;

bool is_string(StoredType type) {
    return type == hive_t_REG_SZ || type == hive_t_REG_EXPAND_SZ || type == hive_t_REG_MULTI_SZ;
}

// A key's subkeys in the hive's order; false where they cannot be listed.
bool list_children(hive_h* h, hive_node_h node, std::vector<hive_node_h>& out) {
    out.clear();
    const Malloced<hive_node_h> children(hivex_node_children(h, node));
    if (!children) return false;
    for (const hive_node_h* c = children.get(); *c != 0; ++c) out.push_back(*c);
    return true;
}

// Why libhivex could not open a hive, from the errno value it left (0 where it left none): it
// found the cells damaged (it says so as "not supported" or "invalid"), or something else.
Result not_a_hive(int error) {
    const bool damaged = error == ENOTSUP || error == EINVAL || error == ERANGE || error == EFAULT;
    const char* what = damaged ? "its cells are damaged, so it cannot be read as a hive"
                               : "cannot be read as a hive";
    return error != 0 ? failed(what, error) : Result::refused(what);
}

// A key's name as the hive holds it (UTF-8 here), or "" where it cannot be read.
std::string name_of(hive_h* h, hive_node_h node) {
    const Malloced<char> utf8(hivex_node_name(h, node));
    return utf8 ? utf8.get() : "";
}

}  // namespace

struct HiveStore::Hive {
    struct OpenKey {
        hive_node_h node = 0;  // 0: a free slot
        bool listed = false;
        std::vector<hive_node_h> children;  // listed once, on the first enumeration
    };

    // The subkey enumerated last, which the walk opens next by the name it was listed by: found
    // without another search of its siblings, where that name stands for it exactly.
    struct Listed {
        hive_node_h parent = 0, child = 0;
        std::string name;
    };

    hive_h* h;
    std::vector<OpenKey> keys;  // handle k is slot k - 1
    Listed listed;
    std::set<hive_node_h> changed;  // keys a value was set in: stamped on commit

    ~Hive() { hivex_close(h); }

    // The node a handle stands for, or 0; kLocalMachine stands for no node of the hive.
    hive_node_h node(KeyHandle key) const {
        return key.value - 1 < keys.size() ? keys[key.value - 1].node : 0;
    }

    // Walks `path` down from `from`; each level must exist, unless `create` adds it.
    Status descend(hive_node_h& from, std::string_view path, bool create) {
        while (true) {
            const auto cut = path.find('\\');
            const std::string level = ansi_to_utf8(path.substr(0, cut));
            if (level.empty()) return kFileNotFound;
            errno = 0;
            hive_node_h child = hivex_node_get_child(h, from, level.c_str());
            if (child == 0 && create && errno == 0)
                child = hivex_node_add_child(h, from, level.c_str());
            if (child == 0) return errno == 0 ? kFileNotFound : kRegistryCorrupt;
            from = child;
            if (cut == std::string_view::npos) return kSuccess;
            path.remove_prefix(cut + 1);
        }
    }

    // The start of a path below `parent`: below kLocalMachine only SOFTWARE, the hive's root.
    Status start(KeyHandle parent, std::string_view& path, hive_node_h& from) const {
        from = node(parent);
        if (from != 0) return kSuccess;
        if (!(parent == kLocalMachine)) return kInvalidHandle;
        const auto cut = path.find('\\');
        if (path.substr(0, cut).size() != 8 || strncasecmp(path.data(), "SOFTWARE", 8) != 0)
            return kFileNotFound;
        path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
        from = hivex_root(h);
        return kSuccess;
    }
};

HiveStore::HiveStore(std::unique_ptr<Hive> hive) : hive_(std::move(hive)) {}
HiveStore::~HiveStore() = default;

std::unique_ptr<HiveStore> HiveStore::open_file(const char* path, bool writable, Result& result) {
    errno = 0;
    hive_h* h = hivex_open(path, writable ? HIVEX_OPEN_WRITE : 0);
    result = h != nullptr ? Result() : not_a_hive(errno);
    if (h == nullptr) return nullptr;
    auto hive = std::make_unique<Hive>();
    hive->h = h;
    return std::unique_ptr<HiveStore>(new HiveStore(std::move(hive)));
}

Status HiveStore::open(KeyHandle parent, const char* path, KeyHandle& out) {
    std::string_view rest = path;
    hive_node_h node;
    Status status = hive_->start(parent, rest, node);
    if (status == kSuccess && node == hive_->listed.parent && rest == hive_->listed.name)
        node = hive_->listed.child;
    else if (status == kSuccess && !rest.empty())
        status = hive_->descend(node, rest, false);
    if (status != kSuccess) return status;
    auto& keys = hive_->keys;
    std::size_t slot = 0;
    while (slot < keys.size() && keys[slot].node != 0) ++slot;
    if (slot == keys.size()) keys.emplace_back();
    keys[slot].node = node;
    keys[slot].listed = false;
    out = KeyHandle{slot + 1};
    return kSuccess;
}

Status HiveStore::enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) {
    const hive_node_h node = hive_->node(key);
    if (node == 0) return kInvalidHandle;
    auto& open = hive_->keys[key.value - 1];
    if (!open.listed) {
        const Malloced<hive_node_h> children(hivex_node_children(hive_->h, node));
        if (!children) return kRegistryCorrupt;
        open.children.clear();
        for (const hive_node_h* c = children.get(); *c != 0; ++c) open.children.push_back(*c);
        open.listed = true;
    }
    if (index >= open.children.size()) return kNoMoreItems;
    const Malloced<char> utf8(hivex_node_name(hive_->h, open.children[index]));
    if (!utf8) return kRegistryCorrupt;
    const std::string ansi = utf8_to_ansi(utf8.get());
    if (ansi.size() >= kKeyNameBuffer) return kMoreData;
    std::memcpy(name, ansi.c_str(), ansi.size() + 1);
    // A name with '?' for a letter the code page lacks names no key: it is searched for.
    const bool exact = ansi_to_utf8(ansi) == utf8.get();
    hive_->listed = exact ? Hive::Listed{node, open.children[index], ansi} : Hive::Listed{};
    return kSuccess;
}

Status HiveStore::read_value(KeyHandle key, const char* name, std::uint8_t* data,
                             std::uint32_t& size) {
    std::uint32_t type;
    return read_typed(key, name, data, size, type);
}

Status HiveStore::read_typed(KeyHandle key, const char* name, std::uint8_t* data,
                             std::uint32_t& size, std::uint32_t& type) {
    const hive_node_h node = hive_->node(key);
    if (node == 0) return kInvalidHandle;
    errno = 0;
    const hive_value_h value = hivex_node_get_value(hive_->h, node, ansi_to_utf8(name).c_str());
    if (value == 0) return errno == 0 ? kFileNotFound : kRegistryCorrupt;
    StoredType stored;
    std::size_t length;
    const Malloced<char> raw(
        hivex_value_value(hive_->h, value, reinterpret_cast<hive_type*>(&stored), &length));
    if (!raw) return kRegistryCorrupt;
    std::string text;
    const char* bytes = raw.get();
    if (is_string(stored)) {
        text = utf16le_to_ansi(reinterpret_cast<const std::uint8_t*>(bytes), length);
        bytes = text.data();
        length = text.size();
    }
    type = static_cast<std::uint32_t>(stored);
    if (length > size) {
        size = static_cast<std::uint32_t>(length);
        return kMoreData;
    }
    if (length != 0) std::memcpy(data, bytes, length);
    size = static_cast<std::uint32_t>(length);
    return kSuccess;
}

Status HiveStore::write_value(KeyHandle key, const char* name, ValueType type,
                              const std::uint8_t* data, std::uint32_t size) {
    const hive_node_h node = hive_->node(key);
    if (node == 0) return kInvalidHandle;
    const auto stored = static_cast<StoredType>(type);
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (is_string(stored)) bytes = ansi_to_utf16le(bytes);
    std::string utf8 = ansi_to_utf8(name);
    const hive_set_value value{utf8.data(), static_cast<hive_type>(type), bytes.size(),
                               bytes.data()};
    if (hivex_node_set_value(hive_->h, node, &value, 0) != 0) return kRegistryCorrupt;
    hive_->changed.insert(node);
    return kSuccess;
}

Status HiveStore::close(KeyHandle key) {
    if (hive_->node(key) == 0) return kInvalidHandle;
    hive_->keys[key.value - 1] = {};
    return kSuccess;
}

Status HiveStore::probe_set_values(const char* path) {
    KeyHandle key;
    const Status status = open(kLocalMachine, path, key);
    if (status == kSuccess) close(key);
    return status;
}

Status HiveStore::create_key(const char* path) {
    std::string_view rest = path;
    hive_node_h node;
    Status status = hive_->start(kLocalMachine, rest, node);
    if (status == kSuccess && !rest.empty()) status = hive_->descend(node, rest, true);
    for (auto& open : hive_->keys) open.listed = false;  // lists may have grown
    return status;
}

Result HiveStore::commit(const char* path) {
    errno = 0;
    if (hivex_commit(hive_->h, path, 0) != 0)
        return failed("cannot write the new hive", errno != 0 ? errno : EIO);
    // A node handle is the offset of the key's cell in the file, base block included.
    return stamp_hive_file(path, {hive_->changed.begin(), hive_->changed.end()}, filetime_now());
}

Status HiveStore::last_write(KeyHandle key, std::uint64_t& filetime) {
    const hive_node_h node = hive_->node(key);
    if (node == 0) return kInvalidHandle;
    errno = 0;
    const std::int64_t time = hivex_node_timestamp(hive_->h, node);
    if (time == -1 && errno != 0) return kRegistryCorrupt;
    filetime = static_cast<std::uint64_t>(time);
    return kSuccess;
}

bool HiveStore::moved_keys(HiveStore& before, HiveStore& after, std::vector<std::string>& moved) {
    hive_h* const a = before.hive_->h;
    hive_h* const b = after.hive_->h;
    // Keys pair up by their places in the two trees; names are read only to say which moved.
    struct Pair {
        hive_node_h a, b;
        std::size_t depth;
    };
    std::vector<Pair> pending{{hivex_root(a), hivex_root(b), 0}};
    std::vector<hive_node_h> path;  // the keys down to the one taken last
    std::unordered_set<hive_node_h> seen;  // a damaged hive may list a key twice, or its ancestor
    std::vector<hive_node_h> under_a, under_b;
    while (!pending.empty()) {
        const Pair p = pending.back();
        pending.pop_back();
        path.resize(p.depth);
        path.push_back(p.b);
        if (!seen.insert(p.b).second) continue;
        if (hivex_node_timestamp(a, p.a) != hivex_node_timestamp(b, p.b)) {
            std::string joined = "SOFTWARE";
            for (std::size_t i = 1; i < path.size(); ++i) {
                // Two appends, not "\\" + name: GCC 12's optimiser takes that for an
                // overlapping copy (-Werror=restrict in the release build).
                joined += '\\';
                joined += utf8_to_ansi(name_of(b, path[i]));
            }
            moved.push_back(joined);
        }
        const bool listed = list_children(a, p.a, under_a);
        if (list_children(b, p.b, under_b) != listed || under_a.size() != under_b.size())
            return false;
        for (std::size_t i = under_a.size(); i-- > 0;)
            pending.push_back({under_a[i], under_b[i], p.depth + 1});
    }
    return true;
}

}  // namespace endpointfix
