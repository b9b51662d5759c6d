// In-band TCT renewal requests at a fixed issuer: a request is read strictly, and only a current
// TCT of the issuer with the holder's proof of possession gives a replacement, which verifies.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/tokens/renewal.h"
#include "vesk/tokens/verify.h"

using namespace vesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto request = json::from_json<TctRenewalPayload>(fuzz::as_text(data, size));
    if (!request) return 0;
    const SigningKey& issuer = fuzz::issuer_ed25519();
    constexpr std::int64_t kManifestExp = fuzz::kNow + 600;
    auto renewed = process_renewal_request(*request, issuer, kManifestExp, fuzz::kNow, 3600);
    if (!renewed) {
        fuzz::require(!renewed.error().text().empty(), "a refusal has a text");
        return 0;
    }
    auto current = decode_tct_claims(request->current_tct);
    fuzz::require(current.has_value(), "a renewed TCT reads");
    fuzz::require(fuzz::is_own_signature(issuer, request->current_tct),
                  "only the issuer's own TCTs are renewed");
    const TctClaims& claims = renewed->claims;
    fuzz::require(claims.sub == current->claims.sub && claims.aud == current->claims.aud &&
                      claims.grants == current->claims.grants,
                  "the replacement keeps subject, audience and grants");
    fuzz::require(claims.iat == fuzz::kNow && claims.exp == kManifestExp,
                  "the replacement lives until the manifest expires");
    const TctVerifyOptions options{.issuer_manifest_expires_at = kManifestExp,
                                   .expected_audience = claims.aud,
                                   .issuer = issuer.aid(),
                                   .now = fuzz::kNow,
                                   .revocation_check = nullptr,
                                   .clock_skew_secs = 0};
    fuzz::require(verify_tct_token(renewed->token, options).has_value(),
                  "the replacement verifies");
    return 0;
}
