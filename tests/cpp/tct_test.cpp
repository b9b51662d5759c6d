#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "fixtures.h"
#include "vesk/tokens/cache.h"
#include "vesk/tokens/grants.h"
#include "vesk/tokens/verify.h"

namespace vesk {
namespace {

using namespace vesk::testing;

constexpr std::int64_t kNow = 1'700'000'000;
constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

TEST(GrantWhitespace, IsExactlyTheWhiteSpaceProperty) {
    for (const char* c : {"\t", "\r", " ", "\u0085", "\u00a0", "\u1680", "\u200a", "\u2029",
                          "\u202f", "\u205f", "\u3000"}) {
        EXPECT_TRUE(has_unicode_whitespace(std::string("a") + c)) << c;
    }
    for (const char* c : {"", "read", "\u200b", "\u180e", "\ufeff"})
        EXPECT_FALSE(has_unicode_whitespace(c)) << c;
}

struct VerifyTct : ::testing::Test {
    SharedSigningKey issuer = ed25519_key(1);
    SharedSigningKey holder = ed25519_key(2);

    RawClaims claims() const { return tct_claims(*issuer, *holder, kNow - 10, kNow + 10); }
    std::string token(const RawClaims& c) const {
        return sign_token(*issuer, jws::kTypTct, c.text());
    }

    // The verification's error text, or "ok".
    std::string outcome(std::string_view tct, std::int64_t now = kNow, std::int64_t skew = 0,
                        std::optional<std::int64_t> manifest_bound = std::nullopt,
                        const JtiRevocationCheck* revoked = nullptr) const {
        const TctVerifyOptions options{.issuer_manifest_expires_at = manifest_bound,
                                       .expected_audience = holder->aid(),
                                       .issuer = issuer->aid(),
                                       .now = now,
                                       .revocation_check = revoked,
                                       .clock_skew_secs = skew};
        return testing::outcome(verify_tct_token(tct, options));
    }
};

TEST_F(VerifyTct, ChecksRunInTheirFixedOrder) {
    const RevokedJtiSet revoked({std::string(kJti)});
    const std::string long_form_iss = "aid:pubkey:ed25519:" + issuer->aid().as_str().substr(11);
    std::string positional = "[";
    for (const auto& [name, raw] : claims().members)
        positional += (positional.size() > 1 ? "," : "") + raw;
    // A token of this type is looked into before its signature is checked...
    EXPECT_EQ(outcome(tampered(token(claims().add("nbf", "1")))), "unknown field: nbf");
    EXPECT_EQ(outcome(tampered(sign_token(*issuer, jws::kTypTct, "{\"ver\":"))),
              "claims malformed: EOF while parsing a value at line 1 column 7");
    // ...but nested members only once it is.
    EXPECT_EQ(outcome(tampered(token(claims().set("cnf", R"({"jkt":"x","kid":"y"})")))),
              "signature verification failed");
    EXPECT_EQ(outcome(token(claims().set("cnf", R"({"jkt":"x","kid":"y"})"))),
              "unknown field: kid");
    EXPECT_EQ(outcome(sign_token(*issuer, jws::kTypTct, positional + "]")),
              "compact JWS malformed: payload is not a JSON object");
    EXPECT_EQ(outcome(sign_token(*issuer, jws::kTypGrant, claims().add("x", "1").text())),
              "JWS typ header mismatch: expected vesk-tct+jwt, got vesk-grant+jwt");
    // The signature is by the key of the issuer's short form, the claim names the long form.
    EXPECT_EQ(outcome(token(claims().set("iss", json_str(long_form_iss)).set("exp", "0"))),
              "TCT issuer does not match the verifying key");
    EXPECT_EQ(outcome(token(claims().set("sub", json_str(issuer->aid().as_str())).set("exp", "0"))),
              "TCT audience does not match");  // aud is the expected audience, but not sub
    EXPECT_EQ(outcome(token(claims().set("exp", "0").set("grants", "[]")), kNow, 0, std::nullopt,
                      &revoked),
              "TCT has expired or is not yet valid");
    EXPECT_EQ(outcome(token(claims().set("grants", "[]")), kNow, 0, kNow, &revoked),
              "TCT expires_at exceeds issuer Manifest expires_at");
    EXPECT_EQ(outcome(token(claims().set("grants", "[]")), kNow, 0, kNow + 10, &revoked),
              "TCT grants must be non-empty");
    EXPECT_EQ(outcome(token(claims()), kNow, 0, std::nullopt, &revoked), "TCT jti is revoked");
    EXPECT_EQ(outcome(sign_token(*issuer, jws::kTypTct, " \r\n" + claims().text() + " "), kNow, 0,
                      kNow + 10),
              "ok");
}

TEST_F(VerifyTct, ValidityWindowIsInclusiveWidenedBySkewAndSaturating) {
    const auto at = [&](std::int64_t iat, std::int64_t exp, std::int64_t now, std::int64_t skew) {
        return outcome(
            token(claims().set("iat", std::to_string(iat)).set("exp", std::to_string(exp))), now,
            skew);
    };
    const std::string expired = "TCT has expired or is not yet valid";
    EXPECT_EQ(at(kNow, kNow, kNow, 0), "ok");
    EXPECT_EQ(at(kNow - 5, kNow - 1, kNow, 0), expired);
    EXPECT_EQ(at(kNow + 1, kNow + 5, kNow, 0), expired);
    EXPECT_EQ(at(kNow - 40, kNow - 30, kNow, 30), "ok");
    EXPECT_EQ(at(kNow - 40, kNow - 31, kNow, 30), expired);
    EXPECT_EQ(at(kNow + 30, kNow + 40, kNow, 30), "ok");
    EXPECT_EQ(at(kNow, kNow - 1, kNow, 5), "ok");  // iat after exp is no error of its own
    // Window bounds near the limits clamp instead of wrapping around.
    EXPECT_EQ(at(0, kMax - 1, kMax, 10), "ok");
    EXPECT_EQ(at(kMin + 1, 0, kMin, 10), "ok");
    EXPECT_EQ(at(0, 1, kMin + 3, kMax), "ok");
}

TEST(TctCache, EvictsFirstInFirstOutByFirstInsertion) {
    const auto entry = [](std::string jti) {
        return std::make_shared<const VerifiedIdentity>(
            VerifiedIdentity{{"i", {"g"}, std::move(jti), 1}, "a"});
    };
    TctCache cache(2);
    cache.insert(sha256("a"), entry("a"));
    cache.insert(sha256("b"), entry("b"));
    cache.insert(sha256("a"), entry("a2"));  // replaced in place: keeps its age
    cache.insert(sha256("c"), entry("c"));
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.lookup(sha256("a")), nullptr);
    EXPECT_EQ(cache.lookup(sha256("b"))->identity.jti, "b");
    cache.clear();
    EXPECT_EQ(cache.size(), 0u);
    cache.insert(sha256("d"), entry("d"));
    cache.insert(sha256("e"), entry("e"));  // the queue was emptied too: nothing evicted
    EXPECT_NE(cache.lookup(sha256("d")), nullptr);
}

TEST_F(VerifyTct, CacheHitsShareTheIdentityUntilTheExpirySecond) {
    TctCache cache(4);
    const std::string tct = token(claims());
    const auto verify = [&](std::int64_t now, std::string_view grant = "read") {
        return verify_tct_cached(cache, holder->aid(), tct, grant, std::nullopt, nullptr, now);
    };
    auto first = verify(kNow);
    auto hit = verify(kNow, "write");
    ASSERT_TRUE(first && hit);
    EXPECT_EQ(hit->get(), first->get());  // answered from the entry, not verified again
    // At exp the entry is not used, but the full path still accepts the token.
    auto at_exp = verify(kNow + 10);
    ASSERT_TRUE(at_exp);
    EXPECT_NE(at_exp->get(), first->get());
    EXPECT_EQ(verify(kNow + 11).error().detail, "TCT has expired or is not yet valid");
    // Another agent asking for the entry's audience explicitly is answered from it too.
    auto other =
        verify_tct_cached(cache, issuer->aid(), tct, "read", holder->aid().as_str(), nullptr, kNow);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->get(), at_exp->get());
    EXPECT_EQ(cache.size(), 1u);
}

}  // namespace
}  // namespace vesk
