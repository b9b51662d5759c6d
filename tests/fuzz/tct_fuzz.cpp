// TCT verification against a fixed issuer and audience: whatever verifies is a token the
// issuer signed, for that audience, valid now, and the agent-facing check agrees with it.
#include <algorithm>

#include "fixed_keys.h"
#include "vesk/tokens/verify.h"

void vesk::fuzz::check_input(std::string_view token) {
    const auto decoded = decode_tct_claims(token);
    for (Algorithm suite : kSuites) {
        const SigningKey &issuer_key = issuer(suite), &holder_key = holder(suite);
        const auto verify = [&](const JtiRevocationCheck* revoked) {
            return verify_tct_token(token, {.issuer_manifest_expires_at = kNow + 7200,
                                            .expected_audience = holder_key.aid(),
                                            .issuer = issuer_key.aid(),
                                            .now = kNow,
                                            .revocation_check = revoked,
                                            .clock_skew_secs = 30});
        };
        auto verified = verify(nullptr);
        if (refused(verified)) continue;
        const TctClaims& claims = verified->claims;
        require(is_own_signature(issuer_key, token), "only the issuer's signature verifies");
        require(claims.ver == "vesk/0.2" && claims.iss == issuer_key.aid() &&
                    claims.aud == holder_key.aid() && claims.sub == holder_key.aid(),
                "a verified TCT names its issuer and audience");
        require(claims.iat <= kNow + 30 && claims.exp >= kNow - 30 && claims.exp <= kNow + 7200,
                "a verified TCT is valid now");
        require(!claims.grants.empty(), "a verified TCT grants something");
        require(decoded && json::to_json(decoded->claims) == json::to_json(claims),
                "the unverified read gives the verified claims");
        const RevokedJtiSet revoked({claims.jti.to_string()});
        require(!verify(&revoked), "a revoked TCT is refused");
    }

    // The agent-facing check takes the issuer from the token itself.
    const Aid& own = holder(Algorithm::Ed25519).aid();
    auto identity = verify_tct_for_agent(own, token, "read", std::nullopt, nullptr, kNow);
    if (!identity) return;
    require(decoded && identity->identity.peer_aid == decoded->claims.iss.as_str() &&
                identity->aud == own.as_str(),
            "the agent-facing check reports the token's issuer and audience");
    require(std::ranges::find(identity->identity.grants, "read") != identity->identity.grants.end(),
            "the agent-facing check finds the required grant");
}
