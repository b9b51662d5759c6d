#include "vesk/crypto/sha256.h"

#include <openssl/evp.h>

#include "vesk/core/fault.h"

namespace vesk {

Digest sha256(std::span<const std::uint8_t> bytes) {
    // OpenSSL's SHA-256 uses the processor's SHA instructions where it has them, several times
    // faster than portable code on token-sized inputs; the algorithm is fetched once.
    static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    Digest out;
    unsigned int size = 0;
    if (!algorithm ||
        EVP_Digest(bytes.data(), bytes.size(), out.data(), &size, algorithm, nullptr) != 1 ||
        size != out.size()) {
        fault("SHA-256 computation failed");
    }
    return out;
}

}  // namespace vesk
