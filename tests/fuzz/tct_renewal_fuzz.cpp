// In-band TCT renewal requests at a fixed issuer: a request is read strictly, and only a current
// TCT of the issuer with the holder's proof of possession gives a replacement, which verifies.
#include "fixed_keys.h"
#include "vesk/tokens/renewal.h"
#include "vesk/tokens/verify.h"

void vesk::fuzz::check_input(std::string_view text) {
    auto request = read_record<TctRenewalPayload>(text);
    if (!request) return;
    const SigningKey& key = issuer(Algorithm::Ed25519);
    constexpr std::int64_t kManifestExp = kNow + 600;
    auto renewed = process_renewal_request(*request, key, kManifestExp, kNow, 3600);
    if (refused(renewed)) return;
    auto current = decode_tct_claims(request->current_tct);
    require(current.has_value(), "a renewed TCT reads");
    require(is_own_signature(key, request->current_tct), "only the issuer's own TCTs are renewed");
    const TctClaims& claims = renewed->claims;
    require(claims.sub == current->claims.sub && claims.aud == current->claims.aud &&
                claims.grants == current->claims.grants,
            "the replacement keeps subject, audience and grants");
    require(claims.iat == kNow && claims.exp == kManifestExp,
            "the replacement lives until the manifest expires");
    require(verify_tct_token(renewed->token, {.issuer_manifest_expires_at = kManifestExp,
                                              .expected_audience = claims.aud,
                                              .issuer = key.aid(),
                                              .now = kNow,
                                              .revocation_check = nullptr,
                                              .clock_skew_secs = 0})
                .has_value(),
            "the replacement verifies");
}
