// The image helper over an in-memory guest: which installation --root picks, and the write-back's
// refusals and rollback.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "offline/image/find_hive.h"
#include "offline/image/guest_volume.h"
#include "offline/image/write_back.h"
#include "offline/sink/replace.h"
#include "tests/fake_guest.h"
#include "tests/faulty_volume.h"

namespace endpointfix::offline::image {
namespace {

constexpr char kHive[] = "/Windows/System32/config/SOFTWARE";

TEST(FindInstallation, RootPicksOneOfTwo) {
    const struct { const char* root; std::string want_device, want_why; } cases[] = {
        {"", "", "holds 2 Windows installations, on /dev/sda2 and /dev/sdb1: choose one with --root DEVICE"},
        {"/dev/sdb1", "/dev/sdb1", ""},
        {"/dev/sdc1", "", "holds no Windows installation on /dev/sdc1 (only on /dev/sda2 and /dev/sdb1)"},
    };
    for (const auto& c : cases) {
        FakeGuest guest;
        guest.roots = {{"/dev/sda2", "/Windows"}, {"/dev/sdb1", "/Windows"}};
        for (const auto& [device, system] : guest.roots) guest.add(device, kHive, "regf" + device);
        Installation found;
        EXPECT_EQ(find_installation(guest, c.root, found), c.want_why) << "root " << c.root;
        EXPECT_EQ(found.device, c.want_device) << "root " << c.root;
    }
}

TEST(WriteBack, ReplacesOrLeavesTheImageAsItWas) {
    const std::string acl("\x01\x00\x04\x80\x48\x00\x00\x00", 8), hidden_system("\x26\0\0\0", 4);
    const struct { const char* name; std::set<std::string> failing; std::optional<std::string> stored;
                   bool want_wrote; std::string want_said; } cases[] = {
        {"replaced", {}, std::nullopt, true, ""},
        {"other bytes stored", {}, "not the new hive", false, "does not read back as written"},
        {"rename fails", {"rename"}, std::nullopt, false, "injected failure"},
        {"attribute not kept", {"set_attribute"}, std::nullopt, false, "injected failure"},
    };
    for (const auto& c : cases) {
        FakeGuest guest;
        auto& old = guest.add("/dev/sda2", kHive, "old hive");
        old.attributes = {{"system.ntfs_acl", acl}, {"system.ntfs_attrib", hidden_system}, {"user.stream", "s"}};
        guest.add("/dev/sda2", std::string(kHive) + ".LOG1", "log");
        guest.add("/dev/sda2", "/Windows/System32/config/.SOFTWARE.endpointfix-Ab12Cd", "dead run's");
        HiveRead read{{"/dev/sda2", kHive}, 8, {}};
        guest.mount("/dev/sda2", false);
        read.sha256 = *guest.sha256(kHive);
        guest.failing = c.failing, guest.upload_stores = c.stored;

        const std::string bytes = "new hive, longer";
        NewHive hive{memfd_create("hive", MFD_CLOEXEC), bytes.size()};
        ASSERT_EQ(::write(hive.fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        std::string note;
        const volatile std::sig_atomic_t no_signal = 0;
        const SinkResult put = write_back(guest, read, hive, true, no_signal, note);
        close(hive.fd);

        EXPECT_EQ(put.wrote, c.want_wrote) << c.name;
        EXPECT_NE(put.result.message().find(c.want_said), std::string::npos)
            << c.name << ": got " << put.result.message() << ", want " << c.want_said;
        EXPECT_EQ(note, "removed a file left beside it by a run that was stopped") << c.name;
        std::vector<std::string> names;
        for (const auto& [path, file] : guest.mounted().files) names.push_back(path.substr(25));
        const auto& now = *guest.mounted().files.at(kHive);
        if (c.want_wrote) {
            EXPECT_EQ(names, (std::vector<std::string>{"SOFTWARE", "SOFTWARE.LOG1", "SOFTWARE.bak"})) << c.name;
            EXPECT_EQ(now.bytes, bytes) << c.name;
            EXPECT_EQ(now.attributes, old.attributes) << c.name;
            EXPECT_EQ(guest.mounted().files.at(std::string(kHive) + ".bak")->bytes, "old hive") << c.name;
        } else {
            EXPECT_EQ(names, (std::vector<std::string>{"SOFTWARE", "SOFTWARE.LOG1"})) << c.name;
            EXPECT_EQ(now.bytes, "old hive") << c.name;
        }
    }
}

// As a kill -9 would stop it, at each call to the guest: the hive is the old or the new one, and
// no file in the image holds hive bytes under a descriptor other than the hive's.
TEST(WriteBack, StoppedDeadAtEachCall) {
    const std::string acl("\x01\x00\x04\x80\x14\x00\x00\x00", 8), bytes = "new hive";
    const volatile std::sig_atomic_t no_signal = 0;
    for (int k = 0;; ++k) {
        FakeGuest guest;
        guest.add("/dev/sda2", kHive, "old hive").attributes["system.ntfs_acl"] = acl;
        guest.mount("/dev/sda2", true);
        GuestVolume inner(guest);
        FaultyVolume volume(inner, Fault::kDead, k);
        NewHive hive{memfd_create("hive", MFD_CLOEXEC), bytes.size()};
        ASSERT_EQ(::write(hive.fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        const SinkResult got = replace_hive(volume, kHive, hive, false, no_signal);
        close(hive.fd);
        const std::string name = "dead at call " + std::to_string(k);
        EXPECT_EQ(guest.mounted().files.at(kHive)->bytes, got.wrote ? bytes : "old hive") << name;
        for (const auto& [path, file] : guest.mounted().files)
            if (!file->bytes.empty()) {
                EXPECT_EQ(file->attributes.at("system.ntfs_acl"), acl) << name << ": " << path;
            }
        if (got.result.ok()) break;  // past the last call
    }
}

}  // namespace
}  // namespace endpointfix::offline::image
