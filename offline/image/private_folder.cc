#include "offline/image/private_folder.h"

#include <cstdlib>
#include <filesystem>

namespace endpointfix::offline::image {

PrivateFolder::PrivateFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string name =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/endpointfix-image.XXXXXX";
    // mkdtemp makes it 0700.
    if (mkdtemp(name.data()) != nullptr) path_ = name;
}

PrivateFolder::~PrivateFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace endpointfix::offline::image
