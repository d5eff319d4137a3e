// The folder the image helper copies a hive and its logs out into.
#pragma once

#include <string>

namespace endpointfix::offline::image {

// A folder only this user can enter, created under TMPDIR (or /tmp), removed with all it holds
// when this object goes. path() is empty where it could not be created.
class PrivateFolder {
public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace endpointfix::offline::image
