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

// Prints, and closes, the output held in the file open at `held`, with every mention of `copied`
// read as `shown`. Returns `status`, or 4 with a line on stderr where it is not printed in full.
int print_held(int held, const std::string& copied, const std::string& shown, int status);

// `text` as it stands inside a JSON string of the check's (which is ASCII: '"' and '\\'
// escaped, every character outside printable ASCII as \uXXXX), its UTF-8 decoded, and a byte
// that is no part of a character taken as Windows-1252.
std::string json_text(const std::string& text);

}  // namespace endpointfix::offline::image
