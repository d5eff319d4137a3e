#include "offline/wim/archive.h"

#include <wimlib.h>

#include <cerrno>
#include <strings.h>

#include "offline/load/hive_file.h"

namespace endpointfix::offline::wim {
namespace {

constexpr char kConfig[] = "/Windows/System32/config";
constexpr std::uint64_t kSecondsFrom1601 = 11644473600ULL;
constexpr std::uint32_t kWimVersionSolid = 3584;

Result wimlib_says(const std::string& what, int code) {
    return Result::refused(what + ": " + wimlib_get_error_string(static_cast<wimlib_error_code>(code)));
}

// The folder's entries, as iterating it gives them.
struct Entry {
    std::string path, name, descriptor;
    std::uint32_t attributes;
    std::uint64_t created;
};

int note_entry(const wimlib_dir_entry* dentry, void* context) {
    const auto seconds = static_cast<std::uint64_t>(dentry->creation_time.tv_sec);
    static_cast<std::vector<Entry>*>(context)->push_back(
        {dentry->full_path, dentry->filename,
         std::string(dentry->security_descriptor == nullptr ? "" : dentry->security_descriptor,
                     dentry->security_descriptor_size),
         dentry->attributes,
         (seconds + kSecondsFrom1601) * 10000000ULL +
             static_cast<std::uint64_t>(dentry->creation_time.tv_nsec) / 100});
    return 0;
}

bool is_folder(const Entry& entry) {
    return (entry.attributes & WIMLIB_FILE_ATTRIBUTE_DIRECTORY) != 0;
}

enum wimlib_progress_status stop_when_interrupted(enum wimlib_progress_msg, union wimlib_progress_info*,
                                                  void* context) {
    return *static_cast<const volatile std::sig_atomic_t*>(context) != 0
               ? WIMLIB_PROGRESS_STATUS_ABORT
               : WIMLIB_PROGRESS_STATUS_CONTINUE;
}

}  // namespace

std::unique_ptr<Archive> Archive::open(const std::string& path, Result& result) {
    // Windows names its files in any letter case; so are paths looked up here.
    static const int initialised = wimlib_global_init(WIMLIB_INIT_FLAG_DEFAULT_CASE_INSENSITIVE);
    if (initialised != 0) return result = wimlib_says("cannot start wimlib", initialised), nullptr;
    WIMStruct* wim = nullptr;
    if (const int code = wimlib_open_wim(path.c_str(), 0, &wim); code != 0)
        return result = wimlib_says("cannot be read as a WIM", code), nullptr;
    std::unique_ptr<Archive> archive(new Archive(wim));
    wimlib_wim_info info{};
    if (const int code = wimlib_get_wim_info(wim, &info); code != 0)
        return result = wimlib_says("cannot be read as a WIM", code), nullptr;
    archive->facts_ = {static_cast<int>(info.image_count), info.total_parts,
                       info.wim_version == kWimVersionSolid, info.has_integrity_table != 0,
                       info.pipable != 0};
    result = {};
    return archive;
}

Archive::~Archive() { wimlib_free(wim_); }

std::string Archive::edition_name(int edition) const {
    const char* name = wimlib_get_image_name(wim_, edition);
    return name == nullptr ? "" : name;
}

Result Archive::find_hive(int edition, HiveInEdition& hive) {
    std::vector<Entry> entries;
    const int code = wimlib_iterate_dir_tree(wim_, edition, kConfig,
                                             WIMLIB_ITERATE_DIR_TREE_FLAG_CHILDREN, note_entry, &entries);
    if (code == WIMLIB_ERR_PATH_DOES_NOT_EXIST) return {ENOENT, "holds no Windows (no Windows/System32/config)"};
    if (code != 0) return wimlib_says("cannot read Windows/System32/config", code);
    hive = {};
    for (const Entry& entry : entries)
        if (!is_folder(entry) && strcasecmp(entry.name.c_str(), "SOFTWARE") == 0) {
            hive.folder = entry.path.substr(0, entry.path.size() - entry.name.size() - 1);
            hive.name = entry.name, hive.descriptor = entry.descriptor;
            hive.attributes = entry.attributes, hive.created = entry.created;
        }
    if (hive.name.empty()) return {ENOENT, "holds no Windows (no Windows/System32/config/SOFTWARE)"};
    for (const Entry& entry : entries)
        if (!is_folder(entry) && is_transaction_log(hive.name, entry.name))
            hive.logs.push_back(entry.name);
    return {};
}

Result Archive::extract(int edition, const HiveInEdition& hive, const std::string& into) {
    std::vector<std::string> paths{hive.folder + "/" + hive.name};
    for (const std::string& log : hive.logs) paths.push_back(hive.folder + "/" + log);
    std::vector<const char*> names;
    for (const std::string& path : paths) names.push_back(path.c_str());
    const int code = wimlib_extract_paths(wim_, edition, into.c_str(), names.data(), names.size(),
                                          WIMLIB_EXTRACT_FLAG_NO_PRESERVE_DIR_STRUCTURE);
    return code == 0 ? Result{} : wimlib_says("cannot copy the hive out", code);
}

Result Archive::merge_volume(int edition, const std::string& volume, const HiveInEdition& hive) {
    std::string source = volume, target = hive.folder;
    wimlib_update_command command{};
    command.op = WIMLIB_UPDATE_OP_ADD;
    command.add.fs_source_path = source.data();
    command.add.wim_target_path = target.data();
    command.add.add_flags = WIMLIB_ADD_FLAG_NTFS;
    const int code = wimlib_update_image(wim_, edition, &command, 1, 0);
    return code == 0 ? Result{} : wimlib_says("cannot put the new hive in", code);
}

Result Archive::write_to(int fd, const volatile std::sig_atomic_t& interrupted) {
    wimlib_register_progress_function(wim_, stop_when_interrupted,
                                      const_cast<std::sig_atomic_t*>(&interrupted));
    const int flags = WIMLIB_WRITE_FLAG_RETAIN_GUID |
                      (facts_.integrity ? WIMLIB_WRITE_FLAG_CHECK_INTEGRITY : 0) |
                      (facts_.solid ? WIMLIB_WRITE_FLAG_SOLID : 0) |
                      (facts_.pipable ? WIMLIB_WRITE_FLAG_PIPABLE : 0);
    const int code = wimlib_write_to_fd(wim_, fd, WIMLIB_ALL_IMAGES, flags, 0);
    if (code == WIMLIB_ERR_ABORTED_BY_PROGRESS) return Result::refused("interrupted");
    return code == 0 ? Result{} : wimlib_says("cannot write the new WIM", code);
}

}  // namespace endpointfix::offline::wim
