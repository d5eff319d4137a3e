// The hive copied out of an image, serviced by endpointfix-offline itself.
#pragma once

#include <string>
#include <vector>

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

// Runs `program` with `args` and `hive` last, its standard output on `out` (a file descriptor)
// and its standard error on ours, where every mention of `copied` (the folder that holds the
// copy) reads `shown` instead, so that messages name the hive as it stands in the image.
// Returns its exit status, or 128 + the signal that ended it.
int run_offline(const std::string& program, const std::vector<std::string>& args,
                const std::string& hive, int out, const std::string& copied,
                const std::string& shown);

}  // namespace endpointfix::offline::image
