// Verifying TCTs: the core check, the unverified claims read, and revocation checks.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "vesk/core/aid.h"
#include "vesk/core/uuid.h"
#include "vesk/tokens/claims.h"
#include "vesk/tokens/identity.h"
#include "vesk/tokens/tct_error.h"

namespace vesk {

// Asked, last of all checks, whether a token identifier is revoked.
class JtiRevocationCheck {
  public:
    virtual ~JtiRevocationCheck() = default;
    virtual bool is_revoked(const Uuid& jti) const = 0;
};

// A revocation check over a set of revoked jti texts, compared with the lowercase hyphenated
// form of the jti.
class RevokedJtiSet final : public JtiRevocationCheck {
  public:
    explicit RevokedJtiSet(std::set<std::string> revoked) : revoked_(std::move(revoked)) {}
    bool is_revoked(const Uuid& jti) const override;
    bool contains(const std::string& jti_text) const { return revoked_.contains(jti_text); }

  private:
    std::set<std::string> revoked_;
};

struct TctVerifyOptions {
    std::optional<std::int64_t> issuer_manifest_expires_at;
    const Aid& expected_audience;
    const Aid& issuer;
    std::int64_t now = 0;
    const JtiRevocationCheck* revocation_check = nullptr;
    std::int64_t clock_skew_secs = 0;
};

struct VerifiedTct {
    std::string token;
    TctClaims claims;
};

std::expected<VerifiedTct, TctError> verify_tct_token(std::string_view token,
                                                      const TctVerifyOptions& options);

// A failure of the agent-facing checks: malformed input (ValueError) or a failed check
// (RuntimeError), with its full message.
struct TctCheckFailure {
    enum class Kind { Malformed, Failed };
    Kind kind;
    std::string message;
};

// The claims of a token, checked for form only (no header, signature, version or time check).
std::expected<TctClaims, TctCheckFailure> decode_tct_claims(std::string_view token);

// Verifies a TCT for an agent whose own AID is `own_aid`: the issuer is whoever the token names,
// the audience is `expected_audience` or else the agent itself, and `required_grant` must be
// among the grants. The result carries the token's audience too.
std::expected<VerifiedIdentity, TctCheckFailure> verify_tct_for_agent(
    const Aid& own_aid, std::string_view token, std::string_view required_grant,
    std::optional<std::string_view> expected_audience, const RevokedJtiSet* revoked,
    std::int64_t now);

}  // namespace vesk
