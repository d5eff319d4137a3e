#include "offline/load/loaded_hive.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace endpointfix::offline {
namespace {

// Why libhivex could not open a hive whose base block and first bin are sound, from the errno
// value it left: it found the cells behind them damaged (it says so as "not supported" or
// "invalid"), or something else; a refusal where it left none.
Result not_a_hive(int error) {
    const bool damaged = error == ENOTSUP || error == EINVAL || error == ERANGE || error == EFAULT;
    const std::string what =
        std::string(damaged ? "its cells are damaged, so it cannot be read as a hive"
                            : "cannot be read as a hive") +
        " (libhivex)";
    return error != 0 ? failed(what, error) : Result::refused(what);
}

}  // namespace

std::unique_ptr<LoadedHive> LoadedHive::open(const HiveSource& source, Access access,
                                             Result& result, const Hold& hold) {
    std::unique_ptr<LoadedHive> hive(new LoadedHive);
    result =
        open_regular_file(source.file, access == Access::kWrite ? O_RDWR : O_RDONLY, hive->file_);
    if (result.ok() && hold) result = hold(hive->file_);
    if (result.ok()) result = hive->load(source.file);
    if (!result.ok()) hive.reset();
    return hive;
}

Result LoadedHive::load(const std::string& file) {
    state_ = inspect_hive_file(file_);
    // Replayed: a dirty primary, or one whose base block is damaged, where a log may mend it.
    if (!state_.damage.empty() || state_.dirty) return load_replayed(file);
    // Clean: read as it stands, the hive's own bytes; whatever follows them is left out.
    copy_ = std::make_unique<InputCopy>(file_, state_.size);
    return copy_->result();
}

LoadedHive::~LoadedHive() {
    if (image_ >= 0) close(image_);
    if (file_ >= 0) close(file_);
}

std::unique_ptr<HiveStore> LoadedHive::store(bool writable, Result& result) const {
    auto store = HiveStore::open_file(descriptor_path(memory()).c_str(), writable);
    result = store ? Result() : not_a_hive(errno);
    return store;
}

Result LoadedHive::make_new_hive(std::unique_ptr<HiveStore> changed, HiveStore& old,
                                 const WriteRecorder& run, int before, NewHive& out) const {
    const int fd = memfd_create("new hive", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return failed("cannot write the new hive", errno);
    Result result;
    if (const int error = changed->commit(descriptor_path(fd).c_str()); error != 0)
        result = failed("cannot write the new hive", error);
    changed.reset();
    // Sealed, the bytes proven are the bytes that are written.
    struct stat st;
    if (result.ok() && (fstat(fd, &st) != 0 || fcntl(fd, F_ADD_SEALS, kInputSeals) != 0))
        result = failed("cannot hold the new hive in memory", errno);
    if (result.ok())
        if (const std::string why = check_new_hive(fd, state_.sequence + 1, run, before, old);
            !why.empty())
            result = Result::refused(why);
    if (!result.ok()) {
        close(fd);
        return result;
    }
    out = {fd, static_cast<std::uint64_t>(st.st_size)};
    return result;
}

Result LoadedHive::copy_to(int out) const {
    struct stat st;
    if (fstat(memory(), &st) != 0) return failed("cannot be read", errno);
    return copy_range(memory(), out, 0, static_cast<std::uint64_t>(st.st_size));
}

}  // namespace endpointfix::offline
