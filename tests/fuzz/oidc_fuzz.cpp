// OIDC identity tokens against a fixed provider: the lenient header and claim readers never
// fault, and a token only verifies when one of the provider's keys signed it (the fuzzer holds
// none) with the expected issuer, audience, subject, nonce, times and key binding.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_check.h"
#include "fuzz_oidc.h"
#include "vesk/handshake/oidc.h"

using namespace vesk;
using namespace vesk::handshake;

namespace {

const JwksStore& provider() {
    static JwksStore store;
    static const bool registered =
        store.upsert(*parse_url(fuzz::kIdpIssuer), fuzz::idp_keys()).has_value();
    fuzz::require(registered, "the provider's keys register");
    return store;
}

bool signed_by_provider(std::string_view token) {
    if (fuzz::is_own_signature(fuzz::idp_ed25519(), token) ||
        fuzz::is_own_signature(fuzz::issuer_p256(), token)) {
        return true;
    }
    const std::size_t dot = token.rfind('.');
    auto signature = b64u_decode(token.substr(dot + 1));
    const auto input = std::span(reinterpret_cast<const std::uint8_t*>(token.data()), dot);
    return signature && *signature == fuzz::test_rsa_key().sign(input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)json::from_json<JwtHeader>(std::span(data, size));
    (void)json::from_json<OidcClaims>(std::span(data, size));

    const std::string token(fuzz::as_text(data, size));
    const IdentityDescriptor identity{.type = IdentityType::Oidc,
                                      .issuer = std::string(fuzz::kIdpIssuer),
                                      .subject = "agent",
                                      .proof = token,
                                      .public_key = std::nullopt,
                                      .extensions = std::nullopt};
    static const std::vector<std::string> anchors{std::string(fuzz::kIdpIssuer)};
    const OidcVerifyOptions options{.own_aid = fuzz::holder_ed25519().aid(),
                                    .pop_nonce = fuzz::kIdpNonce,
                                    .trust_anchors = anchors,
                                    .resolver = provider(),
                                    .peer_aid = fuzz::issuer_ed25519().aid(),
                                    .iat_tolerance_secs = kOidcIatToleranceSecs,
                                    .now = fuzz::kNow};
    auto verified = verify_oidc_identity(identity, options);
    if (!verified) {
        fuzz::require(!verified.error().text().empty(), "a refusal has a text");
        return 0;
    }
    fuzz::require(signed_by_provider(token), "only the provider's own signatures verify");
    return 0;
}
