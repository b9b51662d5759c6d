// JWK reading over parsed JSON: a key's members decode to exactly the bytes the key holds,
// and RSA material that makes a key can be used for verification without a fault.
#include <algorithm>
#include <array>
#include <variant>

#include "fuzz.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/rsa.h"
#include "vesk/handshake/jwk.h"

void vesk::fuzz::check_input(std::string_view text) {
    using handshake::JwkKeyMaterial;
    auto value = json::parse(text);
    if (!value || !value->as_object()) return;
    const json::Object& object = *value->as_object();
    auto jwk = handshake::read_jwk(object);
    if (refused(jwk)) return;
    const auto holds = [&](std::string_view name, std::span<const std::uint8_t> bytes) {
        const json::Value* member = object.find(name);
        require(member && member->as_string() && *member->as_string() == b64u_encode(bytes),
                "key material is the decoded member");
    };
    if (const auto* okp = std::get_if<JwkKeyMaterial::Okp>(&jwk->material.value)) {
        require(jwk->alg() == JwsAlg::EdDSA, "an OKP key is EdDSA");
        holds("x", okp->x);
        (void)VerifyingKey::from_public_bytes(okp->x);
    } else if (const auto* ec = std::get_if<JwkKeyMaterial::Ec>(&jwk->material.value)) {
        require(jwk->alg() == JwsAlg::ES256, "an EC key is ES256");
        holds("x", ec->x);
        holds("y", ec->y);
        std::array<std::uint8_t, 65> point{0x04};
        std::ranges::copy(ec->x, point.begin() + 1);
        std::ranges::copy(ec->y, point.begin() + 33);
        (void)VerifyingKey::from_public_bytes(point);
    } else {
        const auto& rsa = std::get<JwkKeyMaterial::Rsa>(jwk->material.value);
        require(jwk->alg() == JwsAlg::RS256, "an RSA key is RS256");
        holds("n", rsa.n);
        holds("e", rsa.e);
        auto key = RsaPublicKey::from_components(rsa.n, rsa.e);
        if (!key) return;
        std::vector<std::uint8_t> signature((key->modulus_bits() + 7) / 8, 0);
        signature.back() = 1;  // 1^e = 1: never a valid PKCS#1 block
        require(!key->verify_rs256(as_bytes("header.payload"), signature),
                "a forged signature is refused");
    }
}
