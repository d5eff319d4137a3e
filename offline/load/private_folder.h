// The folder a front end copies a hive and its logs out into (from a disk image, from a WIM), and
// makes what it puts back in: TMPDIR/endpointfix-KIND.PID.XXXXXX, only this user's.
#pragma once

#include <string>

namespace endpointfix::offline {

// Created at once (mkdtemp: mode 0700), removed with all it holds when this object goes. path()
// is empty where it could not be created.
class PrivateFolder {
public:
    explicit PrivateFolder(const std::string& kind);
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Removes the folders of `kind` that runs left when they died (killed, or the machine stopped):
// this user's, not links, whose process is gone. Returns how many.
int remove_dead_private_folders(const std::string& kind);

}  // namespace endpointfix::offline
