#include "offline/image/write_back.h"

#include <utility>
#include <vector>

#include "offline/sink/held_signals.h"

namespace endpointfix::offline::image {

const char kHibernated[] =
    "holds a hibernated Windows (its hiberfil.sys holds a hibernation image, which Windows "
    "resumes from, losing what was written meanwhile); start that Windows and shut it down fully "
    "(shutdown /s /t 0), or disable Fast Startup, then run again";

namespace {

std::string as_it_was(const std::string& why) { return why + "; the image is as it was"; }

using Attributes = std::vector<std::pair<std::string, std::string>>;

// The attributes ntfs-3g holds a file's security descriptor and its file attributes (archive,
// hidden, system...) in. Every file there has both, and neither is listed.
constexpr const char* kNtfsAttributes[] = {"system.ntfs_acl", "system.ntfs_attrib"};

// The extended attributes of `hive` the new file must carry: those listed (named streams, on
// ntfs-3g), and its security descriptor and file attributes, last. A new file gets ntfs-3g's
// default security instead (owner Administrators, Everyone: full control), so the hive is never
// replaced where they cannot be read. Returns an empty string, or why not.
std::string attributes_of(Guest& guest, const std::string& hive, Attributes& kept) {
    auto listed = guest.attributes(hive);
    if (!listed) return "cannot list the extended attributes of " + hive + ": " + guest.error();
    kept = std::move(*listed);
    for (const char* name : kNtfsAttributes) {
        std::erase_if(kept, [name](const auto& attribute) { return attribute.first == name; });
        const auto bytes = guest.attribute(hive, name);
        if (!bytes)
            return "cannot read the NTFS security of " + hive + " (" + name + ": " + guest.error() +
                   "), which the new hive must keep";
        kept.emplace_back(name, *bytes);
    }
    return "";
}

// Sets each of `kept` on `file`, and reads it back.
std::string give(Guest& guest, const std::string& file, const Attributes& kept) {
    for (const auto& [name, bytes] : kept) {
        if (!guest.set_attribute(file, name, bytes))
            return "cannot give the new hive the old one's " + name + ": " + guest.error();
        if (guest.attribute(file, name) != bytes)
            return "the new hive did not keep the old one's " + name + " as it was set";
    }
    return "";
}

}  // namespace

std::string write_back(const std::string& image, const HiveRead& read, const std::string& local,
                       bool backup, const std::string& temp_suffix,
                       const volatile std::sig_atomic_t& interrupted, bool& wrote) {
    wrote = false;
    std::string why;
    const auto guest = Guest::open(image, true, why);
    if (!guest) return as_it_was(why);
    if (!guest->mount(read.at.device, true))
        return as_it_was("cannot mount " + read.at.device + " for writing: " + guest->error());
    if (hibernated(*guest)) return as_it_was(std::string("the image ") + kHibernated);
    const std::string& hive = read.at.hive;
    if (guest->size(hive) != read.size || guest->sha256(hive) != read.sha256)
        return as_it_was("changed in the image since it was read; run again");
    const std::string bak = hive + ".bak";
    if (backup && guest->file(bak)) return as_it_was(bak + " is there already");
    Attributes kept;
    if (why = attributes_of(*guest, hive, kept); !why.empty()) return as_it_was(why);

    const HeldSignals held;
    if (interrupted != 0) return as_it_was("interrupted");
    const std::string temp = hive + temp_suffix;
    bool linked = false;
    if (!guest->upload(local, temp))
        why = "cannot write the new hive into the image: " + guest->error();
    if (why.empty()) why = give(*guest, temp, kept);
    if (why.empty() && backup && !(linked = guest->link(hive, bak)))
        why = "cannot keep the backup " + bak + ": " + guest->error();
    if (why.empty() && !guest->rename(temp, hive))
        why = "cannot replace the hive: " + guest->error();
    if (!why.empty()) {
        guest->remove(temp);
        if (linked) guest->remove(bak);
        return guest->finish() ? as_it_was(why) : why + "; the image may hold a leftover " + temp;
    }
    wrote = true;
    if (!guest->finish())
        return "replaced the hive, but the image may not hold the change: " + guest->error();
    return "";
}

}  // namespace endpointfix::offline::image
