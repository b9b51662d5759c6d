// OIDC identity tokens against a fixed provider with an Ed25519, a P-256 and an RSA key: the
// lenient header and claim readers never fault, and a token only verifies when one of the
// provider's keys signed it (the fuzzer holds none) with the expected issuer, audience, subject,
// nonce, times and key binding.
#include "fixed_keys.h"
#include "vesk/core/url.h"
#include "vesk/handshake/jwks.h"
#include "vesk/handshake/oidc.h"

namespace vesk::fuzz {
namespace {

using namespace handshake;

constexpr std::string_view kIssuer = "https://issuer.example/";
// The provider's keys, published as "ed", "ec" and "rsa": its own Ed25519 key, the P-256
// issuer's key and the fixed RSA key.
const SigningKey& provider_ed25519() {
    return fixed_key(Algorithm::Ed25519, 201);
}
const SigningKey& provider_p256() {
    return issuer(Algorithm::P256);
}

const JwksStore& provider() {
    static JwksStore store;
    static const bool registered = [] {
        const auto point = *provider_p256().verifying_key().p256_uncompressed();
        JwkKeyMaterial::Ec ec{};
        std::copy(point.begin() + 1, point.begin() + 33, ec.x.begin());
        std::copy(point.begin() + 33, point.end(), ec.y.begin());
        const JwkKeyMaterial::Rsa rsa{rsa_modulus(),
                                      Bytes(std::begin(kRsaExponent), std::end(kRsaExponent))};
        return store
            .upsert(*parse_url(kIssuer),
                    {Jwk{"ed", {JwkKeyMaterial::Okp{*provider_ed25519().ed25519_public_key()}}},
                     Jwk{"ec", {ec}}, Jwk{"rsa", {rsa}}})
            .has_value();
    }();
    require(registered, "the provider's keys register");
    return store;
}

bool signed_by_provider(std::string_view token) {
    const std::size_t dot = token.rfind('.');
    auto signature = b64u_decode(token.substr(dot + 1));
    const auto input = as_bytes(token.substr(0, dot));
    return signature && (is_own_signature(provider_ed25519(), input, *signature) ||
                         is_own_signature(provider_p256(), input, *signature) ||
                         is_rs256_signature(input, *signature));
}

}  // namespace

void check_input(std::string_view text) {
    (void)json::from_json<JwtHeader>(text);
    (void)json::from_json<OidcClaims>(text);

    const IdentityDescriptor identity{.type = IdentityType::Oidc,
                                      .issuer = std::string(kIssuer),
                                      .subject = "agent",
                                      .proof = std::string(text),
                                      .public_key = std::nullopt,
                                      .extensions = std::nullopt};
    static const std::vector<std::string> anchors{std::string(kIssuer)};
    const OidcVerifyOptions options{.own_aid = holder(Algorithm::Ed25519).aid(),
                                    .pop_nonce = "AAAAAAAAAAAAAAAAAAAAAA",
                                    .trust_anchors = anchors,
                                    .resolver = provider(),
                                    .peer_aid = issuer(Algorithm::Ed25519).aid(),
                                    .iat_tolerance_secs = kOidcIatToleranceSecs,
                                    .now = kNow};
    if (refused(verify_oidc_identity(identity, options))) return;
    require(signed_by_provider(text), "only the provider's own signatures verify");
}

}  // namespace vesk::fuzz
