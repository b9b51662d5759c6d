// Verifying delegation tokens: single hop (a token carrying the root grant voucher) and
// multi-hop (a chain of tokens whose first hop carries the voucher), with revocation checks.
#pragma once

#include <cstdint>
#include <expected>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "vesk/core/aid.h"
#include "vesk/core/uuid.h"
#include "vesk/delegation/claims.h"
#include "vesk/delegation/delegation_error.h"
#include "vesk/tokens/verify.h"
#include "vesk/tokens/voucher.h"

namespace vesk {

inline constexpr std::uint64_t kDefaultMaxDelegationHops = 3;

// Asked, after every other check, whether one hop of a delegation is revoked.
class HopRevocationCheck {
  public:
    virtual ~HopRevocationCheck() = default;
    virtual bool is_revoked(std::string_view issuer, const Uuid& jti) const = 0;
};

// Hops revoked by their jti, over a set of revoked jti texts; the issuer is not consulted.
class RevokedHopSet final : public HopRevocationCheck {
  public:
    explicit RevokedHopSet(std::set<std::string> revoked) : jtis_(std::move(revoked)) {}
    bool is_revoked(std::string_view, const Uuid& jti) const override {
        return jtis_.is_revoked(jti);
    }

  private:
    RevokedJtiSet jtis_;
};

struct DelegationVerifyOptions {
    const Aid& verifier;  // the root grantor every hop must be addressed to
    std::int64_t now = 0;
    std::uint64_t max_delegation_hops = 0;  // total hops allowed; 0: single hop only
    const JtiRevocationCheck* root_revocation_check = nullptr;  // asked for the voucher's src_jti
    const HopRevocationCheck* hop_revocation_check = nullptr;   // asked for each hop's jti
};

struct VerifiedDelegation {
    std::string token;           // the outer token as received
    DelegationClaims claims;     // the outer token's verified claims
    GrantVoucherClaims voucher;  // the root grant voucher (carried by the first hop)
};

std::expected<VerifiedDelegation, DelegationError> verify_delegation_core(
    std::string_view token, const DelegationVerifyOptions& options);

// The claims of a token without any signature check; they route verification, which checks
// them again once the signature holds. A header naming another token type is refused at once.
std::expected<jws::ReadToken<DelegationClaims>, DelegationError> decode_delegation_unverified(
    std::string_view token);

// What a verified delegation tells its verifier.
struct DelegationVerified {
    std::string delegator;  // the voucher's issuer, the root grantor
    std::string delegatee;  // the outer token's sub
    std::string issued_by;  // the outer token's iss
    std::vector<std::string> grants;
    std::string cnf;  // the delegatee's key thumbprint
    std::int64_t expires_at = 0;

    static DelegationVerified from_verified(const VerifiedDelegation& verified);
};

}  // namespace vesk
