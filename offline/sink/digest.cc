#include "offline/sink/digest.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

namespace endpointfix::offline {
namespace {

using Context = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

// A fresh SHA-256 context; null where libcrypto cannot make one (no memory).
Context started() {
    Context context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) context.reset();
    return context;
}

// Ends the hash in `context`: its digest in lower-case hex, empty where libcrypto fails.
std::string finished(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context, digest, &size) != 1) return "";
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i)
        hex += {kDigits[digest[i] >> 4], kDigits[digest[i] & 0xf]};
    return hex;
}

}  // namespace

std::string sha256_hex(std::string_view bytes) {
    const Context context = started();
    if (!context || EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1) return "";
    return finished(context.get());
}

Result sha256_of(int fd, std::uint64_t size, std::string& digest) {
    const Context context = started();
    if (!context) return failed("cannot read it back", ENOMEM);
    std::vector<char> buffer(1 << 20);
    for (std::uint64_t at = 0; at < size;) {
        const ssize_t got =
            pread(fd, buffer.data(), std::min<std::uint64_t>(buffer.size(), size - at),
                  static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return failed("cannot read it back", got < 0 ? errno : EIO);
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(got)) != 1)
            return failed("cannot read it back", ENOMEM);
        at += static_cast<std::uint64_t>(got);
    }
    digest = finished(context.get());
    return digest.empty() ? failed("cannot read it back", ENOMEM) : Result{};
}

}  // namespace endpointfix::offline
