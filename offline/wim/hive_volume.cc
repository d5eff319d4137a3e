#include "offline/wim/hive_volume.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/security.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

extern char** environ;

namespace endpointfix::offline::wim {
namespace {

// Room for the volume's own files beside the hive's data; sparse, so only what is used counts.
constexpr std::uint64_t kRoom = 16 << 20;
constexpr std::size_t kChunk = 1 << 20;

Result run_mkntfs(const std::string& path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int error = ENOENT, status = 0;
    pid_t child = -1;
    for (const char* program : {"/usr/sbin/mkntfs", "/sbin/mkntfs"}) {
        char* const args[] = {const_cast<char*>(program), const_cast<char*>("-F"),
                              const_cast<char*>("-Q"), const_cast<char*>("-q"),
                              const_cast<char*>(path.c_str()), nullptr};
        error = posix_spawn(&child, program, &actions, nullptr, args, environ);
        if (error != ENOENT) break;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return failed("cannot start mkntfs (from the package ntfs-3g)", error);
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return failed("cannot wait for mkntfs", errno);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return Result::refused("mkntfs could not make an NTFS volume for the new hive");
    return {};
}

Result write_data(ntfs_inode* file, int from, std::uint64_t size) {
    ntfs_attr* data = ntfs_attr_open(file, AT_DATA, AT_UNNAMED, 0);
    if (data == nullptr) return failed("cannot open the new hive's data on its volume", errno);
    std::vector<char> buffer(kChunk);
    Result result;
    for (std::uint64_t at = 0; at < size && result.ok();) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - at));
        const ssize_t got = pread(from, buffer.data(), want, static_cast<off_t>(at));
        if (got <= 0) {
            result = got < 0 ? failed("cannot read the new hive", errno)
                             : Result{EIO, "the new hive ended early"};
            break;
        }
        if (ntfs_attr_pwrite(data, static_cast<s64>(at), got, buffer.data()) != got)
            result = failed("cannot write the new hive to its volume", errno);
        at += static_cast<std::uint64_t>(got);
    }
    ntfs_attr_close(data);
    return result;
}

// The descriptor, attributes and creation time, set after the data: writing changes none of them.
Result give_facts(ntfs_volume* volume, ntfs_inode* file, const VolumeFile& facts) {
    const le32 attributes = cpu_to_le32(facts.attributes);
    const le64 created = cpu_to_le64(facts.created);
    // Storing a descriptor as it is needs the volume alone of a security context.
    SECURITY_CONTEXT context{};
    context.vol = volume;
    if (!facts.descriptor.empty() &&
        ntfs_set_ntfs_acl(&context, file, facts.descriptor.data(), facts.descriptor.size(), 0) != 0)
        return failed("cannot give the new hive its security descriptor", errno);
    if (ntfs_set_ntfs_attrib(file, reinterpret_cast<const char*>(&attributes), sizeof attributes, 0) != 0)
        return failed("cannot give the new hive its attributes", errno);
    if (ntfs_inode_set_times(file, reinterpret_cast<const char*>(&created), sizeof created, 0) != 0)
        return failed("cannot give the new hive its creation time", errno);
    return {};
}

Result put_file(ntfs_volume* volume, const VolumeFile& file) {
    ntfs_inode* root = ntfs_inode_open(volume, FILE_root);
    if (root == nullptr) return failed("cannot open the new hive's volume", errno);
    ntfschar* name = nullptr;
    const int length = ntfs_mbstoucs(file.name.c_str(), &name);
    ntfs_inode* made = length > 0 ? ntfs_create(root, const_cpu_to_le32(0), name, static_cast<u8>(length), S_IFREG)
                                  : nullptr;
    const Result created = made != nullptr ? Result{} : failed("cannot create the new hive on its volume", errno);
    std::free(name);
    Result result = created.ok() ? write_data(made, file.from, file.size) : created;
    if (result.ok()) result = give_facts(volume, made, file);
    if (made != nullptr && ntfs_inode_close(made) != 0 && result.ok())
        result = failed("cannot close the new hive on its volume", errno);
    ntfs_inode_close(root);
    return result;
}

}  // namespace

Result make_volume_with(const std::string& path, const VolumeFile& file) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return failed("cannot create a volume for the new hive", errno);
    const bool sized = ftruncate(fd, static_cast<off_t>(file.size + file.size / 8 + kRoom)) == 0;
    const int error = errno;
    close(fd);
    if (!sized) return failed("cannot size a volume for the new hive", error);
    if (const Result made = run_mkntfs(path); !made.ok()) return made;
    // Not ntfs_initialize_file_security: it leaks an inode where the volume has no user mapping.
    ntfs_volume* volume = ntfs_mount(path.c_str(), NTFS_MNT_NONE);
    if (volume == nullptr) return failed("cannot open the new hive's volume", errno);
    Result result = put_file(volume, file);
    if (ntfs_umount(volume, FALSE) != 0 && result.ok())
        result = failed("cannot close the new hive's volume", errno);
    return result;
}

}  // namespace endpointfix::offline::wim
