// The Volume a replace needs (offline/sink/volume.h), over a disk image's guest: the NTFS volume
// mounted writable in it, through ntfs-3g, whose files have no owner or mode of their own.
#pragma once

#include "offline/image/guest.h"
#include "offline/sink/volume.h"

namespace endpointfix::offline::image {

class GuestVolume final : public Volume {
public:
    explicit GuestVolume(Guest& guest) : guest_(guest) {}

    bool has_modes() const override { return false; }
    Result stat(const std::string& path, FileFacts& facts) override;
    Result list(const std::string& folder, std::vector<std::string>& names) override;
    Result create(const std::string& path) override;
    // Nothing to give: the security descriptor (an attribute) holds the access.
    Result set_owner(const std::string&, unsigned, unsigned, unsigned) override { return {}; }
    Result list_attributes(const std::string& path, std::vector<std::string>& names) override;
    Result attribute(const std::string& path, const std::string& name,
                     std::optional<std::string>& value) override;
    Result set_attribute(const std::string& path, const std::string& name,
                         const std::string& value) override;
    Result remove_attribute(const std::string& path, const std::string& name) override;
    // Uploads the local file through /proc/self/fd/FROM, which reads it from its start.
    Result write(const std::string& path, int from, std::uint64_t size) override;
    // The guest flushes every write at once.
    Result sync(const std::string&) override { return synced(); }
    Result sha256(const std::string& path, std::string& digest) override;
    Result link(const std::string& existing, const std::string& name) override;
    Result rename(const std::string& from, const std::string& to) override;
    Result remove(const std::string& path) override;
    Result sync_folder(const std::string&) override { return synced(); }

private:
    // The guest's last failure: "WHAT: the guest's reason", with its errno value.
    Result failed_to(const std::string& what) const;
    Result synced();
    Guest& guest_;
};

}  // namespace endpointfix::offline::image
