// Every check before a replace, over the in-memory volume as each front end's volume is: a hive
// file's (POSIX: modes, names in their case) and an image's (NTFS as ntfs-3g shows it).
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <functional>

#include "offline/sink/memory_volume.h"
#include "offline/sink/replace.h"

namespace endpointfix::offline {
namespace {

constexpr char kHive[] = "/config/SOFTWARE";
constexpr char kLeftover[] = "/config/.SOFTWARE.endpointfix-Ab12Cd";
const char kOne[] = "removed .SOFTWARE.endpointfix-Ab12Cd, left beside it by a run that was stopped";

TEST(TargetChecks, EachCheckOnEachFrontEndsVolume) {
    using Setup = std::function<void(MemoryVolume&, Target&)>;
    const auto link = [](const char* name) {
        return [name](MemoryVolume& v, Target&) { ASSERT_TRUE(v.link(kHive, name).ok()) << name; };
    };
    const struct { const char* name; Setup setup; bool backup; bool want_wrote; std::string want_said, want_note;
                   std::vector<std::string> want_names; } cases[] = {
        {"replaced, its own leftovers removed", [](MemoryVolume& v, Target&) {
             v.add(kLeftover, "copy"), v.add("/config/.SOFTWARE.endpointfix-notmine", "copy"); },
         false, true, "", kOne, {".SOFTWARE.endpointfix-notmine", "SOFTWARE"}},
        {"not a regular file", [](MemoryVolume& v, Target& t) { v.add("/config/DIR/x", ""), t.path = "/config/DIR"; },
         false, false, "is not a regular file; the hive is as it was", "", {"DIR", "SOFTWARE"}},
        {"another name", link("/config/other"), false, false, "has other names (hard links)", "", {"SOFTWARE", "other"}},
        {"another name, SOFTWARE.bak of another file", [](MemoryVolume& v, Target&) {
             ASSERT_TRUE(v.link(kHive, "/config/other").ok());
             v.add("/config/SOFTWARE.bak", "older"); },
         false, false, "has other names (hard links)", "", {"SOFTWARE", "SOFTWARE.bak", "other"}},
        {"a stopped run's backup name and leftover", [&](MemoryVolume& v, Target& t) {
             link("/config/software.BAK")(v, t), v.add(kLeftover, "copy"); },
         true, true, "", "removed software.BAK, a second name of the hive that a run stopped before "
         "its rename left, and .SOFTWARE.endpointfix-Ab12Cd, left beside it by a run that was stopped", {"SOFTWARE", "SOFTWARE.bak"}},
        {"a backup there in another case", [](MemoryVolume& v, Target&) { v.add("/config/Software.Bak", "older"); },
         true, false, "/config/Software.Bak is there already", "", {"SOFTWARE", "Software.Bak"}},
        {"changed since it was read", [](MemoryVolume&, Target& t) { t.sha256 = std::string(64, '0'); },
         false, false, "changed since it was read; run again", "", {"SOFTWARE"}},
        {"another file than the one read", [](MemoryVolume&, Target& t) { t.file = {1, 99}; },
         false, false, "changed since it was read; run again", "", {"SOFTWARE"}},
        {"of another size than read", [](MemoryVolume&, Target& t) { t.size = 3; },
         false, false, "changed since it was read; run again", "", {"SOFTWARE"}},
    };
    const std::string bytes = "new hive";
    for (const bool ntfs : {false, true})
        for (const auto& c : cases) {
            const std::string name = std::string(ntfs ? "ntfs: " : "posix: ") + c.name;
            MemoryVolume::Kind kind = ntfs ? MemoryVolume::ntfs() : MemoryVolume::posix();
            const std::string inherited = ntfs ? "user.inherited" : "system.posix_acl_access";
            kind.on_create[inherited] = "inherited";  // as from a folder's default ACL
            MemoryVolume volume(kind);
            auto& old = volume.add(kHive, "old hive");
            old.owner = old.group = 65534, old.mode = 0640, old.attributes.erase(inherited);
            old.attributes["user.origin"] = "golden";
            if (ntfs) old.attributes["system.ntfs_acl"] = "the hive's descriptor";
            const MemoryVolume::File was = old;
            Target target(kHive, c.backup);
            target.size = 8, target.file = {1, old.inode};
            ASSERT_TRUE(volume.sha256(kHive, target.sha256.emplace()).ok()) << name;
            c.setup(volume, target);
            NewHive hive{memfd_create("hive", MFD_CLOEXEC), bytes.size()};
            ASSERT_EQ(::write(hive.fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())) << name;
            const volatile std::sig_atomic_t no_signal = 0;
            const SinkResult got = replace_hive(volume, target, hive, no_signal);
            close(hive.fd);
            EXPECT_EQ(got.wrote, c.want_wrote) << name << ": " << got.result.message();
            EXPECT_NE(got.result.message().find(c.want_said), std::string::npos)
                << name << ": got " << got.result.message() << ", want " << c.want_said;
            EXPECT_EQ(got.note, c.want_note) << name;
            EXPECT_EQ(volume.names("/config"), c.want_names) << name;
            const auto now = volume.find(kHive);
            EXPECT_EQ(now->bytes, c.want_wrote ? bytes : "old hive") << name;
            EXPECT_EQ(now->attributes, was.attributes) << name;
            if (!ntfs) {
                EXPECT_EQ(std::vector({now->owner, now->group, now->mode}), std::vector({65534u, 65534u, 0640u})) << name;
            }
            if (c.backup && c.want_wrote) {
                EXPECT_EQ(volume.find("/config/SOFTWARE.bak")->bytes, "old hive") << name;
            }
        }
}

}  // namespace
}  // namespace endpointfix::offline
