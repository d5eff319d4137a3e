// The image helper over an in-memory guest: which installation of an image's disk --root picks,
// and the write-back's refusals and rollback; and the backing file a qcow2 header names.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "offline/image/backing_file.h"
#include "offline/image/find_hive.h"
#include "offline/image/partition_table.h"
#include "offline/image/write_back.h"
#include "offline/sink/replace.h"
#include "tests/fake_appliance.h"
#include "tests/faulty_volume.h"

namespace endpointfix::offline::image {
namespace {

constexpr char kHive[] = "/Windows/System32/config/SOFTWARE";

TEST(FindInstallation, RootPicksOneOfTwo) {
    const struct { const char* root; std::string want_device, want_why; } cases[] = {
        {"", "", "holds 2 Windows installations, on /dev/sda10 and /dev/sda2: choose one with --root DEVICE"},
        {"/dev/sda10", "/dev/sda10", ""},
        {"/dev/sdab1", "", "holds no Windows installation on /dev/sdab1 (only on /dev/sda10 and /dev/sda2)"},
    };
    for (const auto& c : cases) {
        FakeAppliance guest;  // the image on /dev/sda; the others' installations are not its own
        guest.roots = {{"/dev/sda2", "/Windows"}, {"/dev/sda10", "/Windows"}, {"/dev/sdab1", "/Windows"}};
        for (const auto& [device, system] : guest.roots) guest.add(device, kHive, "regf" + device);
        guest.add("/dev/sdb1", kHive, "regf");  // not recognised, but there
        Installation found;
        EXPECT_EQ(find_installation(guest, "/dev/sda", c.root, found).message(), c.want_why) << "root " << c.root;
        EXPECT_EQ(found.device, c.want_device) << "root " << c.root;
    }
}

// A batch's third image (/dev/sdc) is named, and picked by --root, as it is alone (/dev/sda);
// a disk shorter than its partition table is told as cut short, before any filesystem is read.
TEST(FindInstallation, NamedAsAloneAndCutShort) {
    std::string mbr(512, '\0');
    mbr.replace(446 + 8, 8, std::string("\x00\x08\x00\x00\x00\x80\x04\x00", 8));  // 2048 + 294912
    mbr.replace(510, 2, "\x55\xaa");
    const struct { const char* root; std::int64_t size; std::string want_device, want_why; } cases[] = {
        {"", 160 << 20, "", "holds 2 Windows installations, on /dev/sda1 and /dev/sda2: choose one with --root DEVICE"},
        {"/dev/sda2", 160 << 20, "/dev/sdc2", ""},
        {"/dev/sdc2", 160 << 20, "", "holds no Windows installation on /dev/sdc2 (only on /dev/sda1 and /dev/sda2)"},
        {"/dev/sda2", 80 << 20, "", "is cut short: 80 MiB of a 145 MiB disk (its partition table reaches past its end)"},
    };
    for (const auto& c : cases) {
        FakeAppliance guest;
        guest.roots = {{"/dev/sdc1", "/Windows"}, {"/dev/sdc2", "/Windows"}};
        for (const auto& [device, system] : guest.roots) guest.add(device, kHive, "regf" + device);
        guest.disk_facts["/dev/sdc"] = {mbr, c.size};
        Installation found;
        EXPECT_EQ(find_installation(guest, "/dev/sdc", c.root, found).message(), c.want_why) << "root " << c.root;
        EXPECT_EQ(found.device, c.want_device) << "root " << c.root;
    }
}

// GPT's size is its backup header's LBA, past the protective entry; MBR's the end of its last entry.
TEST(PartitionTable, SizeTheTableGivesTheDisk) {
    const auto sector = [](std::string entries, std::string then) {
        std::string bytes(446, '\0');
        bytes += entries.append(64 - entries.size(), '\0') + "\x55\xaa" + then;
        return bytes;
    };
    const std::string mbr_two = std::string("\0\0\0\0\x07\0\0\0\x00\x08\0\0\x00\x08\0\0", 16) +
                                std::string("\0\0\0\0\x07\0\0\0\x00\x40\0\0\x00\x02\0\0", 16);
    const std::string protective("\0\0\0\0\xee\0\0\0\x01\0\0\0\xff\xff\xff\xff", 16);
    const std::string gpt = std::string("EFI PART", 8) + std::string(24, '\0') +
                            std::string("\xff\x3f\0\0\0\0\0\0", 8) + std::string(472, '\0');  // backup LBA 16383
    const struct { const char* name; std::string bytes; std::optional<std::uint64_t> want; } cases[] = {
        {"MBR, the second partition ends last", sector(mbr_two, ""), (0x4000 + 0x200) * 512},
        {"GPT", sector(protective, gpt), 16384 * 512},
        {"GPT header missing", sector(protective, std::string(512, '\0')), 0xffffffffULL * 512 + 512},
        {"no signature", std::string(512, '\0'), std::nullopt},
        {"short", sector(mbr_two, "").substr(0, 511), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(partitioned_size(c.bytes), c.want) << c.name;
}

TEST(WriteBack, ReplacesOrLeavesTheImageAsItWas) {
    const std::string acl("\x01\x00\x04\x80\x48\x00\x00\x00", 8), hidden_system("\x26\0\0\0", 4);
    const struct { const char* name; std::set<std::string> failing; std::optional<std::string> stored;
                   const char* other_name; bool want_wrote; std::string want_said; } cases[] = {
        {"replaced", {}, std::nullopt, nullptr, true, ""},
        {"other bytes stored", {}, "not the new hive", nullptr, false, "does not read back as written"},
        {"rename fails", {"rename"}, std::nullopt, nullptr, false, "injected failure"},
        {"attribute not kept", {"set_attribute"}, std::nullopt, nullptr, false, "injected failure"},
        {"no writable mount", {"mount"}, std::nullopt, nullptr, false, "mount: injected failure; the hive is as it was"},
        {"image not flushed", {"finish"}, std::nullopt, nullptr, true, "replaced the hive, but finish: injected failure"},
        {"a second name", {}, std::nullopt, "/Windows/other", false, "has other names (hard links)"},
    };
    for (const auto& c : cases) {
        FakeAppliance guest;
        auto& old = guest.add("/dev/sda2", kHive, "old hive");
        old.attributes = {{"system.ntfs_acl", acl}, {"system.ntfs_attrib", hidden_system}, {"user.stream", "s"}};
        guest.add("/dev/sda2", std::string(kHive) + ".LOG1", "log");
        guest.add("/dev/sda2", "/Windows/System32/config/.SOFTWARE.endpointfix-Ab12Cd", "dead run's");
        auto& fs = guest.on("/dev/sda2");
        if (c.other_name) {
            ASSERT_TRUE(fs.link(kHive, c.other_name).ok()) << c.name;
        }
        HiveRead read{{"/dev/sda2", kHive}, 8, {}};
        ASSERT_TRUE(guest.mount("/dev/sda2", false).ok() && guest.volume().sha256(kHive, read.sha256).ok());
        guest.failing = c.failing, guest.stores = c.stored;

        const std::string bytes = "new hive, longer";
        NewHive hive{memfd_create("hive", MFD_CLOEXEC), bytes.size()};
        ASSERT_EQ(::write(hive.fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        const volatile std::sig_atomic_t no_signal = 0;
        ImageWriteBack sink(guest, read, true, no_signal);
        ASSERT_TRUE(sink.claim().ok()) << c.name;
        const SinkResult put = sink.put(hive);
        close(hive.fd);

        const bool checked = c.failing != std::set<std::string>{"mount"} && !c.other_name;
        EXPECT_EQ(put.wrote, c.want_wrote) << c.name;
        EXPECT_NE(put.result.message().find(c.want_said), std::string::npos)
            << c.name << ": got " << put.result.message() << ", want " << c.want_said;
        EXPECT_EQ(put.note, checked ? "removed .SOFTWARE.endpointfix-Ab12Cd, left beside it by a run that was stopped" : "")
            << c.name;
        std::vector<std::string> names = fs.names("/Windows/System32/config");
        const auto& now = *fs.find(kHive);
        if (c.want_wrote) {
            EXPECT_EQ(names, (std::vector<std::string>{"SOFTWARE", "SOFTWARE.LOG1", "SOFTWARE.bak"})) << c.name;
            EXPECT_EQ(now.bytes, bytes) << c.name;
            EXPECT_EQ(now.attributes, old.attributes) << c.name;
            EXPECT_EQ(fs.find(std::string(kHive) + ".bak")->bytes, "old hive") << c.name;
        } else {
            EXPECT_EQ(names.size(), checked ? 2u : 3u) << c.name;
            EXPECT_EQ(now.bytes, "old hive") << c.name;
        }
    }
}

// A qcow2 header: "QFI\xfb", version 3, the backing file's offset (8 bytes) and size (4 bytes),
// big-endian, then `rest`.
std::string qcow2_header(const std::string& offset, const std::string& size, const std::string& rest) {
    return std::string("QFI\xfb\0\0\0\x03", 8) + offset + size + rest;
}

TEST(BackingFile, NamedOnlyWithinTheBytesRead) {
    const std::string at_20("\0\0\0\0\0\0\0\x14", 8), none(8, '\0'), past_end(8, '\xff');
    const struct { const char* name; std::string bytes, want_name, want_unreadable; } cases[] = {
        {"raw", std::string(512, '\0'), "", ""},
        {"qcow2 without one", qcow2_header(none, std::string("\0\0\0\x08", 4), "/etc/foo"), "", ""},
        {"named", qcow2_header(at_20, std::string("\0\0\0\x08", 4), "/etc/foo..."), "/etc/foo", ""},
        {"name past the bytes", qcow2_header(at_20, std::string("\0\0\0\x09", 4), "/etc/foo"), "",
         "its header puts the backing file's name at byte 20, outside the header read"},
        {"offset that wraps", qcow2_header(past_end, std::string("\0\0\0\x08", 4), "/etc/foo"), "",
         "its header puts the backing file's name at byte 18446744073709551615, outside the header read"},
        {"offset inside the header", qcow2_header(std::string("\0\0\0\0\0\0\0\x04", 8),
                                                  std::string("\0\0\0\x04", 4), ""), "",
         "its header puts the backing file's name at byte 4, outside the header read"},
        {"no size", qcow2_header(at_20, std::string(4, '\0'), "/etc/foo"), "",
         "its header gives the backing file's name a size of 0 bytes"},
        {"too long", qcow2_header(at_20, std::string("\0\0\x04\0", 4), std::string(1024, 'a')), "",
         "its header gives the backing file's name a size of 1024 bytes"},
        {"cut short", std::string("QFI\xfb\0\0\0\x03\0\0\0", 11), "", ""},
    };
    for (const auto& c : cases) {
        const BackingFile got = qcow2_backing_file(c.bytes);
        EXPECT_EQ(got.name, c.want_name) << c.name;
        EXPECT_EQ(got.unreadable, c.want_unreadable) << c.name;
    }
}

// As a kill -9 would stop it, at each call to the guest: the hive is the old or the new one, and
// no file in the image holds hive bytes under a descriptor other than the hive's.
TEST(WriteBack, StoppedDeadAtEachCall) {
    const std::string acl("\x01\x00\x04\x80\x14\x00\x00\x00", 8), bytes = "new hive";
    const volatile std::sig_atomic_t no_signal = 0;
    for (int k = 0;; ++k) {
        FakeAppliance guest;
        guest.add("/dev/sda2", kHive, "old hive").attributes["system.ntfs_acl"] = acl;
        ASSERT_TRUE(guest.mount("/dev/sda2", true).ok());
        FaultyVolume volume(guest.volume(), Fault::kDead, k);
        NewHive hive{memfd_create("hive", MFD_CLOEXEC), bytes.size()};
        ASSERT_EQ(::write(hive.fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        const SinkResult got = replace_hive(volume, {kHive}, hive, no_signal);
        close(hive.fd);
        const std::string name = "dead at call " + std::to_string(k);
        auto& fs = guest.on("/dev/sda2");
        EXPECT_EQ(fs.find(kHive)->bytes, got.wrote ? bytes : "old hive") << name;
        for (const auto& file : fs.names("/Windows/System32/config"))
            if (const auto held = fs.find("/Windows/System32/config/" + file); !held->bytes.empty()) {
                EXPECT_EQ(held->attributes.at("system.ntfs_acl"), acl) << name << ": " << file;
            }
        if (got.result.ok()) break;  // past the last call
    }
}

}  // namespace
}  // namespace endpointfix::offline::image
