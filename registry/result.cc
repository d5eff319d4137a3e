#include "registry/result.h"

#include <cstring>

namespace endpointfix {

Result failed(const std::string& what, int error) {
    return {error, what + ": " + std::strerror(error)};
}

}  // namespace endpointfix
