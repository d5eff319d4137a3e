// The Volume of this machine's own file systems, over POSIX calls: a hive file's replace.
#pragma once

#include <cstdint>
#include <string>

#include "offline/sink/volume.h"

namespace endpointfix::offline {

// Links are not followed: a path names the link itself.
class PosixVolume final : public Volume {
public:
    bool has_modes() const override { return true; }
    unsigned creator() const override;
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
    Result sync(const std::string& path) override;
    Result sha256(const std::string& path, std::string& digest) override;
    Result holds(const std::string& path, int from, std::uint64_t size, bool& same) override;
    Result link(const std::string& existing, const std::string& name) override;
    Result rename(const std::string& from, const std::string& to) override;
    Result remove(const std::string& path) override;
    Result sync_folder(const std::string& folder) override;
};

}  // namespace endpointfix::offline
