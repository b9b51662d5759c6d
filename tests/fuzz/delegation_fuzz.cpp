// Delegation verification, single and multi-hop, for a fixed root grantor: whatever verifies is
// addressed to it, within its voucher's grants, current, signed by a fixed key (the fuzzer holds
// none), refused once revoked, and still verifies when more hops are allowed.
#include "fixed_keys.h"
#include "vesk/delegation/verifier.h"

namespace vesk::fuzz {
namespace {

const Aid& root() {
    return issuer(Algorithm::Ed25519).aid();
}

std::expected<VerifiedDelegation, DelegationError> verify(
    std::string_view token, std::uint64_t max_hops,
    const JtiRevocationCheck* revoked_root = nullptr,
    const HopRevocationCheck* revoked_hop = nullptr) {
    return verify_delegation_core(token, {.verifier = root(),
                                          .now = kNow,
                                          .max_delegation_hops = max_hops,
                                          .root_revocation_check = revoked_root,
                                          .hop_revocation_check = revoked_hop});
}

}  // namespace

void check_input(std::string_view token) {
    (void)decode_delegation_unverified(token);
    auto single = verify(token, 0);
    auto verified = verify(token, 3);
    if (single) require(verified.has_value(), "allowing hops keeps single hops valid");
    if (refused(verified)) {
        if (!single) (void)verify(token, 5);  // longer chains
        return;
    }
    require(verify(token, 5).has_value(), "allowing more hops keeps a chain valid");

    const DelegationClaims& claims = verified->claims;
    require(claims.aud == root() && verified->voucher.iss == root(),
            "a verified delegation is addressed to the root grantor");
    const SigningKey* signer = fixed_key_of(claims.iss);
    require(signer && is_own_signature(*signer, token),
            "only the fixed keys sign verified delegations");
    require(claims.exp >= kNow && claims.exp <= verified->voucher.exp,
            "a verified delegation is current and within its voucher's life");
    require(!claims.scope.empty() && scope_within(claims.scope, verified->voucher.grants),
            "a verified delegation hands on only what was granted");
    require(claims.iss != claims.sub, "a verified delegation is not self-issued");

    const RevokedJtiSet revoked_root({verified->voucher.src_jti.to_string()});
    require(!verify(token, 3, &revoked_root), "a revoked root grant is refused");
    if (claims.jti) {
        const RevokedHopSet revoked_hop({claims.jti->to_string()});
        require(!verify(token, 3, nullptr, &revoked_hop), "a revoked hop is refused");
    }
}

}  // namespace vesk::fuzz
