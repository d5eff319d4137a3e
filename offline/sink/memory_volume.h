// A Volume in memory: folders, and files with bytes, an owner and a mode, and extended
// attributes; hard links share one file. It serves the tests of the replace for both front ends:
// as a POSIX file system (modes, names in their case), or as ntfs-3g shows an NTFS volume (no
// modes, names without letter case, its system.ntfs_* attributes listed nowhere).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "offline/sink/volume.h"

namespace endpointfix::offline {

class MemoryVolume final : public Volume {
public:
    struct File {
        std::string bytes;
        unsigned owner = 0, group = 0, mode = 0644;
        std::map<std::string, std::string> attributes;
        std::uint64_t inode = 0;
        unsigned flags = 0;
    };
    struct Kind {
        bool modes = true;
        bool names_without_case = false;
        std::string unlisted_prefix;  // attributes whose names begin so are listed nowhere
        unsigned creator = 0;         // the owner and group of the files `create` makes
        // The attributes a new file is given (an inherited ACL, a default descriptor), and
        // those a write sets (ntfs-3g's archive bit).
        std::map<std::string, std::string> on_create, on_write;
    };
    static Kind posix() { return {}; }
    static Kind ntfs();

    explicit MemoryVolume(Kind kind) : kind_(std::move(kind)) { folders_["/"] = "/"; }

    // The file at `path`, with the folders above it; given a mode and attributes as `create`
    // gives them.
    File& add(const std::string& path, const std::string& bytes);
    // The file at `path`, null where there is none.
    std::shared_ptr<File> find(const std::string& path) const;
    // The path of the file at `path` as it was spelt when made; empty where there is none.
    std::string spelt(const std::string& path) const;
    // Every name in `folder`, in order (spelt as they were made).
    std::vector<std::string> names(const std::string& folder) const;

    bool has_modes() const override { return kind_.modes; }
    unsigned creator() const override { return kind_.creator; }
    Result stat(const std::string& path, FileFacts& facts) override;
    Result list(const std::string& folder, std::vector<std::string>& names) override;
    Result create(const std::string& path) override;
    Result set_owner(const std::string& path, unsigned owner, unsigned group,
                     unsigned mode) override;
    Result list_attributes(const std::string& path, std::vector<std::string>& names) override;
    Result attribute(const std::string& path, const std::string& name,
                     std::optional<std::string>& value) override;
    Result set_attribute(const std::string& path, const std::string& name,
                         const std::string& value) override;
    Result remove_attribute(const std::string& path, const std::string& name) override;
    Result flags(const std::string& path, unsigned& flags) override;
    Result set_flags(const std::string& path, unsigned flags) override;
    Result write(const std::string& path, int from, std::uint64_t size) override;
    Result sync(const std::string& path) override {
        return on_file(path, [](File&) { return Result{}; });
    }
    Result sha256(const std::string& path, std::string& digest) override;
    Result link(const std::string& existing, const std::string& name) override;
    Result rename(const std::string& from, const std::string& to) override;
    Result remove(const std::string& path) override;
    Result sync_folder(const std::string& folder) override;

private:
    struct Name {
        std::string spelt;
        std::shared_ptr<File> file;
    };
    std::string key(const std::string& path) const;  // the path as names are compared
    Result in_folder(const std::string& path) const;  // ENOENT where its folder is not there
    bool taken(const std::string& path) const;
    // `act` done on the file at `path`: ENOENT where there is none.
    template <typename Act>
    Result on_file(const std::string& path, Act act) const {
        const auto file = find(path);
        return file ? act(*file) : Result{ENOENT, path + ": No such file or directory"};
    }

    Kind kind_;
    std::map<std::string, Name> files_;          // by key
    std::map<std::string, std::string> folders_;  // key to the path spelt
    std::uint64_t inodes_ = 0;
};

}  // namespace endpointfix::offline
