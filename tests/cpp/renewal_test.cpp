#include "vesk/tokens/renewal.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "tct_support.h"

namespace vesk {
namespace {

using namespace vesk::testing;

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

struct Renewal : ::testing::Test {
    SharedSigningKey issuer = ed25519_key(1);
    SharedSigningKey holder = p256_key(2);

    std::string tct(std::int64_t iat, std::int64_t exp) const {
        return sign_token(*issuer, header(*issuer, jws::kTypTct),
                          tct_claims(*issuer, *holder, iat, exp).text());
    }
    TctRenewalPayload request(const std::string& token, const SigningKey& prover) const {
        auto text = build_renewal_request(prover, token);
        EXPECT_TRUE(text);
        auto payload = json::from_json<TctRenewalPayload>(*text);
        EXPECT_TRUE(payload) << payload.error().text();
        return *payload;
    }
    // The lifetime of the renewed token, or the error text.
    std::string renew(const TctRenewalPayload& r, std::int64_t manifest_exp, std::int64_t now,
                      std::int64_t ttl) const {
        auto minted = process_renewal_request(r, *issuer, manifest_exp, now, ttl);
        if (!minted) return minted.error().text();
        EXPECT_EQ(minted->claims.iat, now);
        return std::to_string(minted->claims.exp - minted->claims.iat);
    }
};

TEST_F(Renewal, LifetimeIsTheSmallerOfRequestAndManifestWithoutOverflow) {
    const std::string expired = "TCT has expired or is not yet valid";
    auto r = request(tct(0, 1000), *holder);
    EXPECT_EQ(renew(r, 600, 500, 3600), "100");
    EXPECT_EQ(renew(r, 7700, 500, 60), "60");
    EXPECT_EQ(renew(r, 500, 500, 60), expired);
    EXPECT_EQ(renew(r, 7700, 500, 0), expired);
    EXPECT_EQ(renew(r, 7700, 500, kMin), expired);
    // A Manifest expiry at the bottom of the range must not wrap into a long lifetime.
    EXPECT_EQ(renew(r, kMin, 500, 3600), expired);
    EXPECT_EQ(renew(r, kMin + 400, 500, kMax), expired);
    // Nor may one at the top wrap into a refusal.
    auto early = request(tct(kMin, 0), *holder);
    EXPECT_EQ(renew(early, kMax, -10, 3600), "3600");
    EXPECT_EQ(renew(early, kMax, -10, kMax), std::to_string(kMax - 0));
}

TEST_F(Renewal, ChecksTheTokenThenTheProofThenTheLifetime) {
    auto foreign = request(sign_token(*holder, header(*holder, jws::kTypTct),
                                      tct_claims(*holder, *holder, 0, 1000).text()),
                           *holder);
    EXPECT_EQ(renew(foreign, 0, 500, 0),
              "JWS alg header does not match the signer AID's algorithm: expected EdDSA for this "
              "AID, got ES256");
    EXPECT_EQ(renew(request(tct(0, 100), *holder), 0, 500, 0),
              "TCT has expired or is not yet valid");
    auto wrong_prover = request(tct(0, 1000), *issuer);
    EXPECT_EQ(renew(wrong_prover, 0, 500, 0), "TCT signature is invalid");
    auto r = request(tct(0, 1000), *holder);
    r.pop_nonce += "=";
    EXPECT_EQ(renew(r, 0, 500, 0),
              "claims malformed: pop_nonce: base64url padding is forbidden in VESK");
    auto unknown = request(sign_token(*issuer, header(*issuer, jws::kTypTct),
                                      tct_claims(*issuer, *holder, 0, 1000).add("nbf", "1").text()),
                           *holder);
    EXPECT_EQ(renew(unknown, 0, 500, 0), "unknown field: nbf");
    auto not_json = request(sign_token(*issuer, header(*issuer, jws::kTypTct), "{"), *holder);
    EXPECT_TRUE(renew(not_json, 0, 500, 0).starts_with("claims malformed: EOF while parsing"));
}

TEST_F(Renewal, RenewedTokenKeepsSubjectAudienceAndGrants) {
    auto minted = process_renewal_request(request(tct(0, 1000), *holder), *issuer, 5000, 500, 60);
    ASSERT_TRUE(minted);
    EXPECT_EQ(minted->claims.sub, holder->aid());
    EXPECT_EQ(minted->claims.aud, holder->aid());
    EXPECT_EQ(minted->claims.grants, (std::vector<std::string>{"read", "write"}));
    EXPECT_NE(minted->claims.jti.to_string(), kJti);
    EXPECT_TRUE(minted->grant_voucher);
}

TEST(RenewalPayload, ReadsStrictlyAndWritesCompactly) {
    const TctRenewalPayload payload{"a.b.c", "nonce", "sig\"x"};
    const std::string text = json::to_json(payload);
    EXPECT_EQ(text, R"({"current_tct":"a.b.c","pop_nonce":"nonce","pop_signature":"sig\"x"})");
    auto back = json::from_json<TctRenewalPayload>(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->pop_signature, "sig\"x");
    EXPECT_TRUE(json::from_json<TctRenewalPayload>(R"(["a","b","c"])"));
    EXPECT_EQ(
        json::from_json<TctRenewalPayload>(R"(["a","b"])").error().text(),
        "invalid length 2, expected struct TctRenewalPayload with 3 elements at line 1 column 9");
    EXPECT_TRUE(
        json::from_json<TctRenewalPayload>(
            R"({"current_tct":"a","pop_nonce":"b","pop_signature":"c","x":1})")
            .error()
            .text()
            .starts_with(
                "unknown field `x`, expected one of `current_tct`, `pop_nonce`, `pop_signature`"));
    EXPECT_TRUE(json::from_json<TctRenewalPayload>(R"({"current_tct":"a","pop_nonce":"b"})")
                    .error()
                    .text()
                    .starts_with("missing field `pop_signature`"));
}

}  // namespace
}  // namespace vesk
