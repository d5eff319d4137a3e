#include "registry/hive_times.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "registry/format/base_block.h"

namespace endpointfix {
namespace {

// A key cell: its size (4 bytes), "nk", flags (2 bytes), then its last-write time.
constexpr std::uint64_t kKeySignature = 4, kKeyTime = 8;
// The first bin's header, after the base block: "hbin", ..., its timestamp at 20.
constexpr std::uint64_t kFirstBin = format::kBaseBlockSize, kBinStamp = 20;
constexpr std::uint64_t kUnixEpoch = 116444736000000000;  // 1970-01-01, in FILETIME

bool put_time(int fd, std::uint64_t at, std::uint64_t when) {
    std::uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(when >> 8 * i);
    return pwrite(fd, bytes, 8, static_cast<off_t>(at)) == 8;
}

template <std::size_t N>
bool holds(int fd, std::uint64_t at, const char (&signature)[N]) {
    char bytes[N - 1];
    return pread(fd, bytes, N - 1, static_cast<off_t>(at)) == static_cast<ssize_t>(N - 1) &&
           std::memcmp(bytes, signature, N - 1) == 0;
}

int stamp(int fd, const std::vector<std::uint64_t>& key_cells, std::uint64_t when) {
    for (const std::uint64_t cell : key_cells)
        if (!holds(fd, cell + kKeySignature, "nk") || !put_time(fd, cell + kKeyTime, when))
            return errno != 0 ? errno : EIO;
    if (!holds(fd, kFirstBin, "hbin") || !put_time(fd, kFirstBin + kBinStamp, when))
        return errno != 0 ? errno : EIO;
    std::uint8_t block[format::kLogBaseSize];
    if (pread(fd, block, sizeof(block), 0) != static_cast<ssize_t>(sizeof(block))) return errno != 0 ? errno : EIO;
    for (int i = 0; i < 8; ++i) block[format::kStamp + i] = static_cast<std::uint8_t>(when >> 8 * i);
    const std::uint32_t sum = format::base_block_checksum(block);
    for (int i = 0; i < 4; ++i) block[format::kChecksum + i] = static_cast<std::uint8_t>(sum >> 8 * i);
    if (pwrite(fd, block, sizeof(block), 0) == static_cast<ssize_t>(sizeof(block))) return 0;
    return errno != 0 ? errno : EIO;
}

}  // namespace

std::uint64_t filetime_now() {
    using namespace std::chrono;
    const auto since_1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
    return kUnixEpoch + static_cast<std::uint64_t>(since_1970.count() / 100);
}

Result stamp_hive_file(const char* path, const std::vector<std::uint64_t>& key_cells,
                       std::uint64_t when) {
    const int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return failed("cannot stamp the new hive with its times", errno);
    errno = 0;
    int error = stamp(fd, key_cells, when);
    if (close(fd) != 0 && error == 0) error = errno;
    return error == 0 ? Result() : failed("cannot stamp the new hive with its times", error);
}

}  // namespace endpointfix
