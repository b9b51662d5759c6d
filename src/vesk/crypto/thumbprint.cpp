#include "vesk/crypto/thumbprint.h"

#include "vesk/core/base64url.h"
#include "vesk/crypto/recent_keys.h"
#include "vesk/crypto/sha256.h"

namespace vesk {
namespace {

std::string compute(const VerifyingKey& key) {
    std::string jwk;
    if (auto point = key.p256_uncompressed()) {
        const std::span<const std::uint8_t> bytes(*point);
        jwk = R"({"crv":"P-256","kty":"EC","x":")" + b64u_encode(bytes.subspan(1, 32)) +
              R"(","y":")" + b64u_encode(bytes.subspan(33, 32)) + R"("})";
    } else {
        jwk = R"({"crv":"Ed25519","kty":"OKP","x":")" + b64u_encode(key.to_bytes()) + R"("})";
    }
    return b64u_encode(sha256(jwk));
}

}  // namespace

std::string jwk_thumbprint(const VerifyingKey& key) {
    recent_keys::Entry& known = recent_keys::entry(key);
    if (known.thumbprint.empty()) known.thumbprint = compute(key);
    return known.thumbprint;
}

}  // namespace vesk
