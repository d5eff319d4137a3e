// The files endpointfix-offline reads: a hive and its transaction logs. Each is opened without
// blocking, so that no FIFO's writer is waited for, and refused unless it is a regular file. What
// is read of it is copied into memory of this process's own, a sealed memfd, with every read's
// error checked: a mapping of the file itself ends the process with SIGBUS where a sector cannot
// be read or the file is cut short, and libhivex maps the file it opens; a sealed memfd can
// neither fail nor shrink, so neither the replay nor libhivex ever reads the file itself.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <string>

#include "registry/format/log_replay.h"
#include "registry/result.h"

namespace endpointfix::offline {

// Opens the file at `path` with `flags` (O_RDONLY or O_RDWR; it is close-on-exec) into `fd`, which
// is then the caller's. Fails as "is a directory", "is not a regular file", "cannot open: REASON"
// or, for writing, "cannot open for writing: REASON"; `fd` is -1 then.
Result open_regular_file(const std::string& path, int flags, int& fd);

// Copies `size` bytes at `offset` of `from` to the same offset of `to`, in the kernel where it
// can. Fails with the errno value: EIO where `from` ends sooner.
Result copy_range(int from, int to, std::uint64_t offset, std::uint64_t size);

// A path that reaches the file open at `fd`, for libhivex, which opens files by path only: how
// offline/load hands it the loaded hive and the new one, which have no other names (memfds).
// Nothing outside offline/load calls it.
std::string descriptor_path(int fd);

// A file's first bytes, read into a sealed memfd, and mapped.
inline constexpr unsigned kInputSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
class InputCopy {
public:
    // Copies the first `limit` bytes of the file open at `fd`, or all of it where it is shorter.
    // Unless `sealed` is false, the memfd is sealed: then its owner may change it (through its
    // descriptor; the mapping is private) once it no longer reads bytes(), and seal it itself.
    explicit InputCopy(int fd, std::uint64_t limit = UINT64_MAX, bool sealed = true);
    ~InputCopy();
    InputCopy(const InputCopy&) = delete;
    InputCopy& operator=(const InputCopy&) = delete;

    // Done, or "cannot be read: REASON" with the errno value that stopped the copy: EIO where
    // the file ended before the size it had when the copy began, as where a read failed.
    const Result& result() const { return result_; }
    // The memfd, which stays this object's: for libhivex (as /proc/self/fd/N) and for copies.
    int fd() const { return memfd_; }
    format::Bytes bytes() const { return {data_, size_}; }

private:
    int memfd_ = -1;
    Result result_;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace endpointfix::offline
