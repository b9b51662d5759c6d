#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <unordered_set>

#include "tct_support.h"
#include "vesk/tokens/cache.h"
#include "vesk/tokens/verify.h"

namespace vesk {
namespace {

using namespace vesk::testing;

constexpr std::int64_t kNow = 1'700'000'000;
constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

struct VerifyTct : ::testing::Test {
    SharedSigningKey issuer = ed25519_key(1);
    SharedSigningKey holder = ed25519_key(2);
    SharedSigningKey p256_issuer = p256_key(3);

    RawClaims claims() const { return tct_claims(*issuer, *holder, kNow - 10, kNow + 10); }
    std::string token(const RawClaims& c) const {
        return sign_token(*issuer, header(*issuer, jws::kTypTct), c.text());
    }

    // The verification's error text, or "ok".
    std::string outcome(std::string_view tct, std::int64_t now = kNow,
                        std::optional<std::int64_t> manifest_bound = std::nullopt,
                        const JtiRevocationCheck* revoked = nullptr, std::int64_t skew = 0,
                        const Aid* issuer_aid = nullptr) const {
        const TctVerifyOptions options{
            .issuer_manifest_expires_at = manifest_bound,
            .expected_audience = holder->aid(),
            .issuer = issuer_aid ? *issuer_aid : issuer->aid(),
            .now = now,
            .revocation_check = revoked,
            .clock_skew_secs = skew,
        };
        auto verified = verify_tct_token(tct, options);
        return verified ? "ok" : verified.error().text();
    }
};

TEST_F(VerifyTct, AcceptsAWellFormedTokenAndKeepsItsText) {
    const std::string tct = token(claims());
    const TctVerifyOptions options{.issuer_manifest_expires_at = std::nullopt,
                                   .expected_audience = holder->aid(),
                                   .issuer = issuer->aid(),
                                   .now = kNow};
    auto verified = verify_tct_token(tct, options);
    ASSERT_TRUE(verified) << verified.error().text();
    EXPECT_EQ(verified->token, tct);
    EXPECT_EQ(verified->claims.iss.as_str(), issuer->aid().as_str());
    EXPECT_EQ(verified->claims.grants, (std::vector<std::string>{"read", "write"}));
    EXPECT_EQ(verified->claims.jti.to_string(), kJti);
}

TEST_F(VerifyTct, ChecksRunInTheirFixedOrder) {
    const std::string bad_ver =
        token(claims().set("ver", json_str("vesk/0.1")).set("iat", "0").set("exp", "1"));
    const std::string expired_and_revoked = token(claims().set("exp", std::to_string(kNow - 1)));
    const RevokedJtiSet revoked({std::string(kJti)});
    // Early member check: an unknown member is reported even with a bad signature.
    EXPECT_EQ(outcome(tampered(token(claims().add("nbf", "1")))), "unknown field: nbf");
    // A payload that is not JSON at all is reported before the signature.
    EXPECT_EQ(outcome(tampered(sign_token(*issuer, header(*issuer, jws::kTypTct), "{\"ver\":"))),
              "claims malformed: EOF while parsing a value at line 1 column 7");
    // Then the signature, before anything inside the claims is looked at.
    EXPECT_EQ(outcome(tampered(bad_ver)), "signature verification failed");
    EXPECT_EQ(outcome(tampered(token(claims().set("cnf", R"({"jkt":"x","kid":"y"})")))),
              "signature verification failed");
    EXPECT_EQ(outcome(token(claims().set("cnf", R"({"jkt":"x","kid":"y"})"))),
              "unknown field: kid");
    EXPECT_EQ(outcome(token(claims().add("iat", "5"))),
              "claims malformed: duplicate field `iat` at line 1 column " +
                  std::to_string(claims().text().size() + 5));
    // The version comes before the times; revocation comes last of all.
    EXPECT_EQ(outcome(bad_ver), "TCT version is not supported");
    EXPECT_EQ(outcome(expired_and_revoked, kNow, std::nullopt, &revoked),
              "TCT has expired or is not yet valid");
    EXPECT_EQ(outcome(token(claims().set("grants", "[]")), kNow, std::nullopt, &revoked),
              "TCT grants must be non-empty");
    EXPECT_EQ(outcome(token(claims()), kNow, std::nullopt, &revoked), "TCT jti is revoked");
}

TEST_F(VerifyTct, ReportsEachClaimCheckWithItsText) {
    const std::string long_form_iss =
        "aid:pubkey:ed25519:" + issuer->aid().as_str().substr(std::string("aid:pubkey:").size());
    const struct {
        RawClaims claims;
        std::string text;
    } cases[] = {
        {claims().set("iss", json_str(long_form_iss)),
         "TCT issuer does not match the verifying key"},
        {claims().set("aud", json_str(issuer->aid().as_str())), "TCT audience does not match"},
        {claims().set("sub", json_str(issuer->aid().as_str())), "TCT audience does not match"},
        {claims().set("cnf",
                      "{\"jkt\":" + json_str(*jwk_thumbprint(issuer->verifying_key())) + "}"),
         "TCT cnf.jkt does not match the subject key"},
        {claims().set("grants", "[]"), "TCT grants must be non-empty"},
        {claims().set("grants", R"(["read write"])"), "ok"},
        {claims().set("ext", "null"), "ok"},
        {claims().set("ext", R"({"z":[1,{"a":null}]})"), "ok"},
        {claims().set("aud", json_str("example.com")),
         "claims malformed: AID does not start with 'aid:' at line 1 column "},
        {claims().set("jti", json_str(std::string(kJti).substr(1))),
         "claims malformed: UUID parsing failed: "},
        {claims().set("exp", "9223372036854775808"), "claims malformed: invalid "},
        {claims().drop("cnf"), "claims malformed: missing field `cnf`"},
    };
    for (const auto& c : cases) {
        const std::string got = outcome(token(c.claims));
        EXPECT_TRUE(got.starts_with(c.text)) << c.claims.text() << "\n  got: " << got;
    }
}

TEST_F(VerifyTct, RefusesTokensOfAnotherTypeOrSuite) {
    const std::string voucher_typed =
        sign_token(*issuer, header(*issuer, "vesk-grant+jwt"), claims().add("aud2", "1").text());
    EXPECT_EQ(outcome(voucher_typed),
              "JWS typ header mismatch: expected vesk-tct+jwt, got vesk-grant+jwt");
    EXPECT_EQ(outcome("a.b"), "compact JWS malformed: expected exactly three non-empty segments");
    // An ES256 token checked against an Ed25519 issuer fails on alg, before the signature.
    const std::string es256 =
        sign_token(*p256_issuer, header(*p256_issuer, jws::kTypTct), claims().text());
    EXPECT_EQ(outcome(es256),
              "JWS alg header does not match the signer AID's algorithm: expected EdDSA for this "
              "AID, got ES256");
    RawClaims p256_claims = tct_claims(*p256_issuer, *holder, kNow - 10, kNow + 10);
    const std::string p256_tct =
        sign_token(*p256_issuer, header(*p256_issuer, jws::kTypTct), p256_claims.text());
    EXPECT_EQ(outcome(p256_tct, kNow, std::nullopt, nullptr, 0, &p256_issuer->aid()), "ok");
}

TEST_F(VerifyTct, ValidityWindowIsInclusiveAndSaturates) {
    const auto at = [&](std::int64_t iat, std::int64_t exp, std::int64_t now,
                        std::int64_t skew = 0) {
        return outcome(
            token(claims().set("iat", std::to_string(iat)).set("exp", std::to_string(exp))), now,
            std::nullopt, nullptr, skew);
    };
    const std::string expired = "TCT has expired or is not yet valid";
    EXPECT_EQ(at(kNow, kNow, kNow), "ok");
    EXPECT_EQ(at(kNow - 5, kNow - 1, kNow), expired);
    EXPECT_EQ(at(kNow + 1, kNow + 5, kNow), expired);
    EXPECT_EQ(at(kNow - 10, kNow - 30, kNow, 30), "ok");
    EXPECT_EQ(at(kNow - 10, kNow - 31, kNow, 30), expired);
    EXPECT_EQ(at(kNow + 30, kNow + 40, kNow, 30), "ok");
    // iat after exp is not itself an error.
    EXPECT_EQ(at(kNow, kNow - 1, kNow, 5), "ok");
    // Bounds near the limits clamp instead of wrapping around.
    EXPECT_EQ(at(0, kMax - 1, kMax, 10), "ok");
    EXPECT_EQ(at(kMin + 1, 0, kMin, 10), "ok");
    EXPECT_EQ(at(0, 1, kMin + 3, kMax), "ok");
    EXPECT_EQ(at(kMin, kMin, kMin, 0), "ok");
}

TEST_F(VerifyTct, ManifestBoundAllowsEqualExpiry) {
    const std::string tct = token(claims());
    EXPECT_EQ(outcome(tct, kNow, kNow + 10), "ok");
    EXPECT_EQ(outcome(tct, kNow, kNow + 9), "TCT expires_at exceeds issuer Manifest expires_at");
}

TEST(RevokedJtiSet, MatchesOnlyTheLowercaseHyphenatedText) {
    const Uuid jti = *Uuid::parse(kJti);
    EXPECT_TRUE(RevokedJtiSet({std::string(kJti)}).is_revoked(jti));
    std::string upper(kJti);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_FALSE(RevokedJtiSet({upper}).is_revoked(jti));
    EXPECT_FALSE(RevokedJtiSet({}).is_revoked(jti));
}

// The agent-facing verification and the cache in front of it.
struct AgentVerify : VerifyTct {
    std::string outcome_for_agent(std::string_view tct, std::string_view grant,
                                  std::optional<std::string_view> audience = std::nullopt,
                                  std::int64_t now = kNow) const {
        auto verified = verify_tct_for_agent(holder->aid(), tct, grant, audience, nullptr, now);
        if (verified) return "ok";
        return std::string(verified.error().kind == TctCheckFailure::Kind::Malformed
                               ? "ValueError: "
                               : "RuntimeError: ") +
               verified.error().message;
    }
};

TEST_F(AgentVerify, DecodesClaimsBeforeLookingAtTheAudience) {
    EXPECT_EQ(
        outcome_for_agent("a.b", "read", "bad"),
        "ValueError: malformed TCT compact JWS: compact JWS malformed: expected exactly three "
        "non-empty segments");
    EXPECT_TRUE(outcome_for_agent(token(claims().add("nbf", "1")), "read", "bad")
                    .starts_with(
                        "ValueError: invalid TCT claims: unknown field `nbf`, expected one of "
                        "`ver`, `jti`, `iss`, `sub`, `aud`, `iat`, `exp`, `grants`, `cnf`, `ext`"));
    EXPECT_TRUE(outcome_for_agent(token(claims()), "read", "bad")
                    .starts_with("ValueError: bad expected_audience AID 'bad': "));
    // A grant voucher is no TctClaims.
    EXPECT_TRUE(
        outcome_for_agent(sign_token(*issuer, header(*issuer, "vesk-grant+jwt"), "{}"), "read")
            .starts_with("ValueError: invalid TCT claims: missing field `ver`"));
}

TEST_F(AgentVerify, TrustsWhicheverIssuerTheTokenNames) {
    // The issuer is taken from the token itself: any agent's well-formed token verifies.
    EXPECT_EQ(outcome_for_agent(token(claims()), "read"), "ok");
    EXPECT_EQ(outcome_for_agent(tampered(token(claims())), "read"),
              "RuntimeError: TCT verification failed: signature verification failed");
    EXPECT_EQ(outcome_for_agent(token(claims().set("grants", R"(["read","a\"b\\c\n"])")), "admin"),
              R"(RuntimeError: TCT does not grant 'admin'; grants: ["read", "a\"b\\c\n"])");
}

TEST_F(AgentVerify, CacheAnswersHitsWithTheSameIdentityAndStillChecksTime) {
    TctCache cache(4);
    const std::string tct = token(claims());
    auto first = verify_tct_cached(cache, holder->aid(), tct, "read", std::nullopt, nullptr, kNow);
    ASSERT_TRUE(first);
    auto hit = verify_tct_cached(cache, holder->aid(), tct, "write", std::nullopt, nullptr, kNow);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->get(), first->get());  // the cached identity itself, not a re-verification
    // exp equal to now goes the full way and passes; one second later it fails.
    auto at_exp =
        verify_tct_cached(cache, holder->aid(), tct, "read", std::nullopt, nullptr, kNow + 10);
    ASSERT_TRUE(at_exp);
    EXPECT_NE(at_exp->get(), first->get());
    auto after =
        verify_tct_cached(cache, holder->aid(), tct, "read", std::nullopt, nullptr, kNow + 11);
    ASSERT_FALSE(after);
    EXPECT_EQ(after.error().message,
              "TCT verification failed: TCT has expired or is not yet valid");
    EXPECT_EQ(cache.size(), 1u);
}

TEST_F(AgentVerify, CacheFallsThroughForRevokedAudienceAndGrant) {
    TctCache cache(4);
    const std::string tct = token(claims());
    ASSERT_TRUE(verify_tct_cached(cache, holder->aid(), tct, "read", std::nullopt, nullptr, kNow));
    const RevokedJtiSet revoked({std::string(kJti)});
    auto refused =
        verify_tct_cached(cache, holder->aid(), tct, "read", std::nullopt, &revoked, kNow);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message, "TCT verification failed: TCT jti is revoked");
    auto other_audience =
        verify_tct_cached(cache, holder->aid(), tct, "read", issuer->aid().as_str(), nullptr, kNow);
    ASSERT_FALSE(other_audience);
    EXPECT_EQ(other_audience.error().message,
              "TCT verification failed: TCT audience does not match");
    auto no_grant =
        verify_tct_cached(cache, holder->aid(), tct, "admin", std::nullopt, nullptr, kNow);
    ASSERT_FALSE(no_grant);
    EXPECT_TRUE(no_grant.error().message.starts_with("TCT does not grant 'admin'"));
    // The store serves other agents too: an explicit audience matching the entry hits.
    auto other_agent =
        verify_tct_cached(cache, issuer->aid(), tct, "read", holder->aid().as_str(), nullptr, kNow);
    ASSERT_TRUE(other_agent);
    EXPECT_EQ(cache.size(), 1u);
}

}  // namespace
}  // namespace vesk
