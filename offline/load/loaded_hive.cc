#include "offline/load/loaded_hive.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace endpointfix::offline {

Loaded LoadedHive::open(const HiveSource& source) {
    Loaded loaded;
    loaded.hive.reset(new LoadedHive);
    loaded.result = open_regular_file(source.file, O_RDONLY, loaded.hive->file_);
    loaded.opened = loaded.result.ok();
    if (loaded.opened) loaded.result = loaded.hive->load(source.file);
    if (!loaded.result.ok()) loaded.hive.reset();
    return loaded;
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
    if (recovered_ >= 0) close(recovered_);
    if (file_ >= 0) close(file_);
}

OpenedStore LoadedHive::store(bool writable) const {
    OpenedStore opened;
    opened.store = HiveStore::open_file(descriptor_path(memory()).c_str(), writable, opened.result);
    return opened;
}

Result LoadedHive::make_new_hive(std::unique_ptr<HiveStore> changed, HiveStore& old,
                                 const WriteRecorder& run, int before, NewHive& out) const {
    const int fd = memfd_create("new hive", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return failed("cannot write the new hive", errno);
    Result result = changed->commit(descriptor_path(fd).c_str());
    changed.reset();
    // Sealed, the bytes proven are the bytes that are written.
    struct stat st;
    if (result.ok() && (fstat(fd, &st) != 0 || fcntl(fd, F_ADD_SEALS, kInputSeals) != 0))
        result = failed("cannot hold the new hive in memory", errno);
    if (result.ok())
        result = check_new_hive(fd, state_.sequence + 1, run, before, old);
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
