#include "offline/result.h"

#include <cstring>

namespace endpointfix::offline {

Result failed(const std::string& what, int error) {
    return {error, what + ": " + std::strerror(error)};
}

}  // namespace endpointfix::offline
