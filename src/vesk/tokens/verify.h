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

// The form, the signature by `options.issuer` and the claims, in a fixed order; a token that
// declares the TCT type has its payload looked into before its signature.
std::expected<VerifiedTct, TctError> verify_tct_token(std::string_view token,
                                                      const TctVerifyOptions& options);

// verify_tct_token over a token whose claims read already: what is left is the signature and the
// checks on the claims.
std::expected<void, TctError> verify_read_tct(const jws::ReadToken<TctClaims>& read,
                                              const TctVerifyOptions& options);

// Why an agent's check of a TCT refused it, by the step that refused it.
struct TctCheckError {
    enum class Kind {
        Compact,       // the token is not three segments, or its payload is no base64url
        Claims,        // its payload does not read as TctClaims
        Audience,      // the expected audience given is not an AID
        Verification,  // verify_tct_token refused it
        GrantMissing,  // the required grant is not among its grants
    };
    Kind kind;
    std::string detail;  // the inner error's text; for GrantMissing the whole message
};

// The claims of a token, checked for form only (no header, signature, version or time check).
std::expected<jws::ReadToken<TctClaims>, TctCheckError> decode_tct_claims(std::string_view token);

// Verifies a TCT for an agent whose own AID is `own_aid`: the issuer is whoever the token names,
// the audience is `expected_audience` or else the agent itself, and `required_grant` must be
// among the grants. The result carries the token's audience too.
std::expected<VerifiedIdentity, TctCheckError> verify_tct_for_agent(
    const Aid& own_aid, std::string_view token, std::string_view required_grant,
    std::optional<std::string_view> expected_audience, const RevokedJtiSet* revoked,
    std::int64_t now);

}  // namespace vesk
