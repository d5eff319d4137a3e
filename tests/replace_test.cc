// The replace of a hive over a real folder, with a fault injected at each of its volume calls in
// turn; the removal of dead runs' leftovers; --recover's new file; and what it reads back by:
// the POSIX volume's comparison of bytes, and the SHA-256 of a volume that gives only a digest.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "offline/interrupts.h"
#include "offline/sink/file_sink.h"
#include "offline/sink/digest.h"
#include "offline/sink/posix_volume.h"
#include "offline/sink/replace.h"
#include "tests/faulty_volume.h"

namespace endpointfix::offline {
namespace {

namespace fs = std::filesystem;

std::string bytes_of(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string pattern(char first, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(first + i * 7 % 251);
    return bytes;
}

// Who may read a file: its mode, owner and an extended attribute the hive was given.
std::string access_of(const fs::path& path) {
    struct stat st;
    char origin[64] = "";
    if (lstat(path.c_str(), &st) != 0) return "missing";
    lgetxattr(path.c_str(), "user.origin", origin, sizeof(origin) - 1);
    char facts[64];
    std::snprintf(facts, sizeof(facts), "%04o %u:%u ", st.st_mode & 07777, st.st_uid, st.st_gid);
    return facts + std::string(origin);
}

// A temporary folder holding a hive file, SOFTWARE (mode 0640, an attribute, not this user's
// where this is root), and a file of other bytes.
struct Folder {
    fs::path dir, hive;
    Folder(const std::string& old_bytes) {
        char name[] = "/tmp/replace_test-XXXXXX";
        dir = mkdtemp(name), hive = dir / "SOFTWARE";
        std::ofstream(hive, std::ios::binary) << old_bytes;
        std::ofstream(dir / "notes") << "not a hive";
        chmod(hive.c_str(), 0640);
        lsetxattr(hive.c_str(), "user.origin", "golden", 6, 0);  // where the file system takes it
        if (geteuid() == 0) {
            EXPECT_EQ(chown(hive.c_str(), 65534, 65534), 0);
        }
    }
    ~Folder() { fs::remove_all(dir); }
    std::vector<std::string> names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

struct Memfd {
    NewHive hive;
    explicit Memfd(const std::string& bytes) {
        hive = {memfd_create("new", MFD_CLOEXEC), bytes.size()};
        EXPECT_EQ(::write(hive.fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    ~Memfd() { close(hive.fd); }
};

TEST(Replace, EveryCallFailedStoppedDeadOrSignalled) {
    const std::string old_bytes = pattern('o', 12000), new_bytes = pattern('n', 20000);
    const Memfd made(new_bytes);
    PosixVolume posix;
    std::vector<std::string> calls;
    {
        const Folder folder(old_bytes);
        FaultyVolume probe(posix, Fault::kNone, -1);
        const SinkResult done = replace_hive(probe, {folder.hive, true}, made.hive, interrupting_signal());
        ASSERT_TRUE(done.result.ok() && done.wrote) << done.result.message();
        ASSERT_EQ(bytes_of(folder.hive), new_bytes);
        calls = probe.calls();
    }
    const int rename_at = static_cast<int>(std::find(calls.begin(), calls.end(), "rename") - calls.begin());
    ASSERT_LT(rename_at, static_cast<int>(calls.size()));
    note_interrupts();
    for (const auto& [fault, label] : {std::pair{Fault::kFail, "failed"}, {Fault::kDead, "dead"},
                                       {Fault::kSignal, "signalled"}})
        for (int k = 0; k < static_cast<int>(calls.size()); ++k) {
            const std::string name = std::string(label) + " at call " + std::to_string(k) + " (" + calls[k] + ")";
            const Folder folder(old_bytes);
            const std::vector<std::string> before = folder.names();
            const std::string hive_access = access_of(folder.hive);
            FaultyVolume volume(posix, fault, k);
            const SinkResult got = replace_hive(volume, {folder.hive, true}, made.hive, interrupting_signal());
            const bool renamed = k > rename_at || (k == rename_at && fault == Fault::kSignal);
            EXPECT_EQ(got.wrote, renamed) << name;
            EXPECT_EQ(bytes_of(folder.hive), renamed ? new_bytes : old_bytes) << name;
            EXPECT_EQ(access_of(folder.hive), hive_access) << name;
            const std::string& said = got.result.message();
            EXPECT_EQ(said.find("; the hive is as it was") != std::string::npos, !renamed) << name << ": " << said;
            EXPECT_EQ(said.rfind("interrupted", 0) == 0, fault == Fault::kSignal && !renamed) << name << ": " << said;
            EXPECT_EQ(interrupting_signal(), fault == Fault::kSignal ? SIGTERM : 0) << name;
            if (!renamed && fault != Fault::kDead) {  // nothing left beside it
                EXPECT_EQ(folder.names(), before) << name;
            }
            for (const auto& file : folder.names()) {  // no copy of the hive open to more
                if (file != "notes" && fs::file_size(folder.dir / file) > 0) {
                    EXPECT_EQ(access_of(folder.dir / file), hive_access) << name << ": " << file;
                }
            }
            forget_interrupt();
        }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
}

TEST(Replace, RemovesOnlyItsOwnLeftovers) {
    const Folder folder("hive");
    // CASE: NAME, and whether a dead run of this program can have left it.
    const std::pair<const char*, bool> cases[] = {
        {".SOFTWARE.endpointfix-Ab12Cd", true},   {".SOFTWARE.endpointfix-zz9ZZ0", true},
        {".SOFTWARE.endpointfix-notmine", false}, {".SOFTWARE.endpointfix-Ab12C", false},
        {".SOFTWARE.endpointfix-Ab_2Cd", false},  {".SYSTEM.endpointfix-Ab12Cd", false},
        {"SOFTWARE.endpointfix-Ab12Cd", false},   {".software.endpointfix-Ab12Cd", false},
        {".SOFTWARE.endpointfix-Ab12Cd.bak", false}};
    std::vector<std::string> kept = folder.names();
    for (const auto& [name, leftover] : cases) {
        std::ofstream(folder.dir / name) << "copy";
        if (!leftover) kept.push_back(name);
    }
    fs::create_directory(folder.dir / ".SOFTWARE.endpointfix-Dir123");  // not a file it makes
    kept.push_back(".SOFTWARE.endpointfix-Dir123");
    // Another user's file of that name is not one this program made (where this is root).
    std::ofstream(folder.dir / ".SOFTWARE.endpointfix-Other1") << "theirs";
    if (geteuid() == 0) {
        ASSERT_EQ(chown((folder.dir / ".SOFTWARE.endpointfix-Other1").c_str(), 12345, 12345), 0);
        kept.push_back(".SOFTWARE.endpointfix-Other1");
    }
    std::sort(kept.begin(), kept.end());
    PosixVolume posix;
    std::string note;
    ASSERT_TRUE(check_target(posix, {folder.hive}, note).ok());
    EXPECT_EQ(folder.names(), kept);
    EXPECT_EQ(note, geteuid() == 0
                        ? "removed .SOFTWARE.endpointfix-Ab12Cd and .SOFTWARE.endpointfix-zz9ZZ0, "
                          "left beside it by runs that were stopped"
                        : "removed .SOFTWARE.endpointfix-Ab12Cd, .SOFTWARE.endpointfix-Other1 and "
                          ".SOFTWARE.endpointfix-zz9ZZ0, left beside it by runs that were stopped");
    ASSERT_TRUE(check_target(posix, {folder.hive}, note).ok());
    EXPECT_EQ(note, "") << "with nothing to remove";
}

// --recover's new file: the hive's bytes, no wider than the hive it comes from nor than the umask
// allows, and never over a file that is there.
TEST(CreateHiveFile, ModeNoWiderThanItsSource) {
    const mode_t mask = umask(022);
    const std::string bytes = pattern('r', 9000);
    // SOURCE MODE, WANT MODE, OUT THERE BEFORE
    const struct { unsigned source, want; bool there; } cases[] = {
        {0600, 0600, false}, {0640, 0640, false}, {0666, 0644, false}, {0444, 0444, false}, {0600, 0640, true}};
    for (const auto& c : cases) {
        const Folder folder("source");
        const fs::path out = folder.dir / "out";
        ASSERT_EQ(chmod(folder.hive.c_str(), c.source), 0);
        if (c.there) {
            std::ofstream(out) << "there";
            ASSERT_EQ(chmod(out.c_str(), 0640), 0) << "out there";
        }
        const Result made = create_hive_file_like(out, folder.hive, [&](int fd) {
            return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) ? Result{} : failed("write", EIO);
        });
        struct stat st;
        const std::string name = "source " + std::to_string(c.source) + (c.there ? ", out there" : "");
        ASSERT_EQ(lstat(out.c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 07777, c.want) << name;
        EXPECT_EQ(made.ok(), !c.there) << name << ": " << made.message();
        EXPECT_EQ(bytes_of(out), c.there ? "there" : bytes) << name;
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"SOFTWARE", "notes", "out"})) << name;
    }
    umask(mask);
}

TEST(PosixVolume, HoldsComparesEveryByteAndTheSize) {
    const std::string hive = pattern('h', (3 << 20) + 5);  // three pieces of 1 MiB and a few bytes
    std::string late = hive;
    late[late.size() - 2] ^= 1;
    // CASE, THE FILE'S BYTES (none: no file), SIZE ASKED, WANT: same, or the code of the failure
    const struct {
        const char* name;
        std::optional<std::string> file;
        std::size_t size;
        int want;  // 1 same, 0 not the same, else the code
    } cases[] = {{"the same bytes", hive, hive.size(), 1},
                 {"a byte of the last piece other", late, hive.size(), 0},
                 {"a byte longer", hive + "x", hive.size(), 0},
                 {"a byte shorter", hive.substr(1), hive.size(), 0},
                 {"both empty", "", 0, 1},
                 {"no file", std::nullopt, hive.size(), ENOENT},
                 {"the local file a byte short", hive + "x", hive.size() + 1, EIO}};
    const Memfd made(hive);
    const int sealed = memfd_create("sealed", MFD_CLOEXEC | MFD_ALLOW_SEALING);  // compared mapped
    ASSERT_EQ(::write(sealed, hive.data(), hive.size()), static_cast<ssize_t>(hive.size()));
    ASSERT_EQ(fcntl(sealed, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE), 0);
    PosixVolume posix;
    for (const int from : {made.hive.fd, sealed})
        for (const auto& c : cases) {
            const std::string name = c.name + std::string(from == sealed ? ", sealed" : "");
            const Folder folder("");
            const fs::path path = folder.dir / "new";
            if (c.file) std::ofstream(path, std::ios::binary) << *c.file;
            bool same = false;
            const Result got = posix.holds(path, from, c.size, same);
            EXPECT_EQ(got.ok() ? int{same} : got.code(), c.want) << name << ": " << got.message();
        }
    close(sealed);
}

TEST(Sha256, FipsVectors) {
    // INPUT, DIGEST (FIPS 180-2's examples, and the empty message)
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // Read in pieces of 1 MiB: two whole ones and a short one.
        {std::string(2621440, 'a'), "b19fda75b6c96f0cd6a27a6c371352dbe76e5a5f4ac1a10fb1352df725eb04be"}};
    for (const auto& [input, want] : cases) {
        const std::string name = input.substr(0, 8) + " (" + std::to_string(input.size()) + " bytes)";
        EXPECT_EQ(sha256_hex(input), want) << name << " in memory";
        const int fd = memfd_create("digest", MFD_CLOEXEC);
        ASSERT_GE(fd, 0) << name;
        ASSERT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size())) << name;
        std::string digest;  // the descriptor at its end: read from its start all the same
        const Result whole = sha256_of(fd, input.size(), digest);
        EXPECT_TRUE(whole.ok()) << name << ": " << whole.message();
        EXPECT_EQ(digest, want) << name << " from a descriptor";
        EXPECT_EQ(sha256_of(fd, input.size() + 1, digest).code(), EIO) << name << ", a byte short";
        close(fd);
    }
}

}  // namespace
}  // namespace endpointfix::offline
