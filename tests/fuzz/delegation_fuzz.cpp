// Delegation verification, single and multi-hop, for a fixed root grantor: whatever verifies is
// addressed to it, within its voucher's grants, current, signed by a seed key (the fuzzer holds
// none), refused once revoked, and still verifies when more hops are allowed.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/delegation/verifier.h"

using namespace vesk;

namespace {

const SigningKey* seed_key(const Aid& aid) {
    for (const SigningKey* key : {&fuzz::issuer_ed25519(), &fuzz::issuer_p256(),
                                  &fuzz::holder_ed25519(), &fuzz::holder_p256()}) {
        if (key->aid() == aid) return key;
    }
    return nullptr;
}

std::expected<VerifiedDelegation, DelegationError> verify(
    std::string_view token, std::uint64_t max_hops, const JtiRevocationCheck* root = nullptr,
    const HopRevocationCheck* hops = nullptr) {
    const DelegationVerifyOptions options{.verifier = fuzz::issuer_ed25519().aid(),
                                          .now = fuzz::kNow,
                                          .max_delegation_hops = max_hops,
                                          .root_revocation_check = root,
                                          .hop_revocation_check = hops};
    return verify_delegation_core(token, options);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view token = fuzz::as_text(data, size);
    (void)decode_delegation_unverified(token);
    auto single = verify(token, 0);
    auto verified = verify(token, 3);
    if (single) fuzz::require(verified.has_value(), "allowing hops keeps single hops valid");
    if (!verified) {
        fuzz::require(!verified.error().text().empty(), "a refusal has a text");
        if (!single) (void)verify(token, 5);  // longer chains
        return 0;
    }
    fuzz::require(verify(token, 5).has_value(), "allowing more hops keeps a chain valid");

    const DelegationClaims& claims = verified->claims;
    const Aid& root = fuzz::issuer_ed25519().aid();
    fuzz::require(claims.aud == root && verified->voucher.iss == root,
                  "a verified delegation is addressed to the root grantor");
    const SigningKey* signer = seed_key(claims.iss);
    fuzz::require(signer && fuzz::is_own_signature(*signer, token),
                  "only the seed keys sign verified delegations");
    fuzz::require(claims.exp >= fuzz::kNow && claims.exp <= verified->voucher.exp,
                  "a verified delegation is current and within its voucher's life");
    fuzz::require(!claims.scope.empty() && scope_within(claims.scope, verified->voucher.grants),
                  "a verified delegation hands on only what was granted");
    fuzz::require(claims.iss != claims.sub, "a verified delegation is not self-issued");

    const RevokedJtiSet revoked_root({verified->voucher.src_jti.to_string()});
    fuzz::require(!verify(token, 3, &revoked_root), "a revoked root grant is refused");
    if (claims.jti) {
        const RevokedHopSet revoked_hop({claims.jti->to_string()});
        fuzz::require(!verify(token, 3, nullptr, &revoked_hop), "a revoked hop is refused");
    }
    return 0;
}
