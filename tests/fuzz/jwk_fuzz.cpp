// JWK reading over parsed JSON: a key's members decode to exactly the bytes the key holds,
// and RSA material that makes a key can be used for verification without a fault.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "fuzz_check.h"
#include "vesk/core/json_reader.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/rsa.h"
#include "vesk/handshake/jwk.h"

using namespace vesk;
using handshake::JwkKeyMaterial;

namespace {

void require_member(const json::Object& object, std::string_view name,
                    std::span<const std::uint8_t> bytes) {
    const json::Value* member = object.find(name);
    fuzz::require(member && member->as_string() && *member->as_string() == b64u_encode(bytes),
                  "key material is the decoded member");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto value = json::parse(fuzz::as_text(data, size));
    if (!value || !value->as_object()) return 0;
    const json::Object& object = *value->as_object();
    auto jwk = handshake::read_jwk(object);
    if (!jwk) {
        fuzz::require(!jwk.error().text().empty(), "a refusal has a text");
        return 0;
    }
    if (const auto* okp = std::get_if<JwkKeyMaterial::Okp>(&jwk->material.value)) {
        fuzz::require(jwk->alg() == JwsAlg::EdDSA, "an OKP key is EdDSA");
        require_member(object, "x", okp->x);
        (void)VerifyingKey::from_public_bytes(okp->x);
    } else if (const auto* ec = std::get_if<JwkKeyMaterial::Ec>(&jwk->material.value)) {
        fuzz::require(jwk->alg() == JwsAlg::ES256, "an EC key is ES256");
        require_member(object, "x", ec->x);
        require_member(object, "y", ec->y);
        std::array<std::uint8_t, 65> point{0x04};
        std::ranges::copy(ec->x, point.begin() + 1);
        std::ranges::copy(ec->y, point.begin() + 33);
        (void)VerifyingKey::from_public_bytes(point);
    } else {
        const auto& rsa = std::get<JwkKeyMaterial::Rsa>(jwk->material.value);
        fuzz::require(jwk->alg() == JwsAlg::RS256, "an RSA key is RS256");
        require_member(object, "n", rsa.n);
        require_member(object, "e", rsa.e);
        auto key = RsaPublicKey::from_components(rsa.n, rsa.e);
        if (key) {
            const std::string message = "header.payload";
            std::vector<std::uint8_t> signature((key->modulus_bits() + 7) / 8, 0);
            signature.back() = 1;  // 1^e = 1: never a valid PKCS#1 block
            fuzz::require(!key->verify_rs256({reinterpret_cast<const std::uint8_t*>(message.data()),
                                              message.size()},
                                             signature),
                          "a forged signature is refused");
        }
    }
    return 0;
}
