// TCT verification against a fixed issuer and audience: whatever verifies is a token the
// issuer signed, for that audience, valid now, and the agent-facing check agrees with it.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/tokens/verify.h"

using namespace vesk;

namespace {

void check(const SigningKey& issuer, const SigningKey& holder, std::string_view token) {
    const TctVerifyOptions options{
        .issuer_manifest_expires_at = fuzz::kNow + 7200,
        .expected_audience = holder.aid(),
        .issuer = issuer.aid(),
        .now = fuzz::kNow,
        .revocation_check = nullptr,
        .clock_skew_secs = 30,
    };
    auto verified = verify_tct_token(token, options);
    if (!verified) {
        fuzz::require(!verified.error().text().empty(), "a refusal has a text");
        return;
    }
    const TctClaims& claims = verified->claims;
    fuzz::require(fuzz::is_own_signature(issuer, token), "only the issuer's signature verifies");
    fuzz::require(claims.ver == "vesk/0.2" && claims.iss == issuer.aid() &&
                      claims.aud == holder.aid() && claims.sub == holder.aid(),
                  "a verified TCT names its issuer and audience");
    fuzz::require(claims.iat <= fuzz::kNow + 30 && claims.exp >= fuzz::kNow - 30 &&
                      claims.exp <= fuzz::kNow + 7200,
                  "a verified TCT is valid now");
    fuzz::require(!claims.grants.empty(), "a verified TCT grants something");

    auto decoded = decode_tct_claims(token);
    fuzz::require(decoded && json::to_json(decoded->claims) == json::to_json(claims),
                  "the unverified read gives the verified claims");
    const RevokedJtiSet revoked({claims.jti.to_string()});
    const TctVerifyOptions revoking{options.issuer_manifest_expires_at,
                                    options.expected_audience,
                                    options.issuer,
                                    options.now,
                                    &revoked,
                                    options.clock_skew_secs};
    fuzz::require(!verify_tct_token(token, revoking), "a revoked TCT is refused");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view token = fuzz::as_text(data, size);
    (void)decode_tct_claims(token);
    check(fuzz::issuer_ed25519(), fuzz::holder_ed25519(), token);
    check(fuzz::issuer_p256(), fuzz::holder_p256(), token);

    // The agent-facing check takes the issuer from the token itself.
    auto identity = verify_tct_for_agent(fuzz::holder_ed25519().aid(), token, "read", std::nullopt,
                                         nullptr, fuzz::kNow);
    if (identity) {
        auto claims = decode_tct_claims(token);
        fuzz::require(claims && identity->identity.peer_aid == claims->claims.iss.as_str() &&
                          identity->aud == fuzz::holder_ed25519().aid().as_str(),
                      "the agent-facing check reports the token's issuer and audience");
        fuzz::require(
            std::ranges::find(identity->identity.grants, "read") != identity->identity.grants.end(),
            "the agent-facing check finds the required grant");
    }
    return 0;
}
