#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "fixtures.h"
#include "vesk/tokens/mint.h"
#include "vesk/tokens/renewal.h"
#include "vesk/tokens/voucher.h"

namespace vesk {
namespace {

using namespace vesk::testing;

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

struct MintTct : ::testing::Test {
    SharedSigningKey issuer = ed25519_key(1);
    SharedSigningKey holder = ed25519_key(2);
    SharedSigningKey p256_holder = p256_key(4);

    TctMintRequest request(const SigningKey& signer, const SigningKey& subject) const {
        TctMintRequest r(signer);
        r.subject = subject.aid();
        r.audience = subject.aid();
        r.subject_pubkey = subject.verifying_key();
        r.grants = {"read", "write"};
        r.issued_at = 1000;
        r.jti = *Uuid::parse(kJti);
        return r;
    }
    template <class Change>
    std::string refusal(Change change) const {
        TctMintRequest r = request(*issuer, *holder);
        change(r);
        return outcome(mint_tct(std::move(r)));
    }
};

TEST_F(MintTct, RefusesBadRequestsInOrder) {
    const Aid long_form = *Aid::parse("aid:pubkey:ed25519:" + holder->aid().as_str().substr(11));
    EXPECT_EQ(refusal([](auto& r) { r.subject.reset(), r.audience.reset(), r.grants.clear(); }),
              "missing required field: subject");
    EXPECT_EQ(refusal([](auto& r) { r.audience.reset(), r.subject_pubkey.reset(); }),
              "missing required field: audience");
    EXPECT_EQ(refusal([](auto& r) { r.subject_pubkey.reset(), r.grants = {"a b"}; }),
              "missing required field: subject_pubkey");
    EXPECT_EQ(refusal([&](auto& r) { r.grants.clear(), r.audience = issuer->aid(); }),
              "TCT grants must be non-empty");
    for (const std::string grant : {"read write", "a\u00a0b", "\u3000"}) {
        EXPECT_EQ(refusal([&](auto& r) {
                      r.grants = {"ok", grant, "x y"}, r.audience = issuer->aid();
                  }),
                  "TCT grant must not contain whitespace: `" + grant + "`");
    }
    EXPECT_EQ(refusal([&](auto& r) { r.subject = long_form; }), "TCT audience does not match");
    EXPECT_EQ(refusal([&](auto& r) { r.subject_pubkey = p256_holder->verifying_key(); }),
              "TCT cnf.jkt does not match the subject key");
    EXPECT_EQ(refusal([](auto& r) { r.grants = {"", "x\u200by"}; }), "ok");
}

TEST_F(MintTct, ExpirySaturatesAtTheLimits) {
    const std::int64_t cases[][3] = {
        {1, kMax, kMax}, {-1, kMin, kMin}, {100, -200, -100}, {1000, 3600, 4600}};
    for (const auto& [iat, ttl, exp] : cases) {
        TctMintRequest r = request(*issuer, *holder);
        r.issued_at = iat;
        r.ttl_secs = ttl;
        EXPECT_EQ(mint_tct(std::move(r))->claims.exp, exp) << iat << " + " << ttl;
    }
}

TEST_F(MintTct, WritesCanonicalClaimsAndAVoucherWhenAsked) {
    auto minted = mint_tct(request(*issuer, *holder));
    EXPECT_EQ(jws::decode_payload(minted->token)->payload_text(),
              "{\"aud\":\"" + holder->aid().as_str() + "\",\"cnf\":{\"jkt\":\"" +
                  jwk_thumbprint(holder->verifying_key()) +
                  "\"},\"exp\":4600,\"grants\":[\"read\",\"write\"],\"iat\":1000,\"iss\":\"" +
                  issuer->aid().as_str() + "\",\"jti\":\"" + std::string(kJti) + "\",\"sub\":\"" +
                  holder->aid().as_str() + "\",\"ver\":\"vesk/0.2\"}");
    TctMintRequest bare = request(*issuer, *holder);
    bare.with_grant_voucher = false;
    auto without = mint_tct(std::move(bare));
    EXPECT_TRUE(minted->grant_voucher);
    EXPECT_FALSE(without->grant_voucher);
    EXPECT_EQ(without->token, minted->token);
}

TEST(TctEnvelope, WritesTokenThenVoucherOrNull) {
    EXPECT_EQ(tct_envelope_json("a.b.c", std::string("d.e.f")),
              R"({"tct":"a.b.c","grant_voucher":"d.e.f"})");
    EXPECT_EQ(tct_envelope_json("a.b.c", std::nullopt), R"({"tct":"a.b.c","grant_voucher":null})");
}

// The renewal lifetime is min(new_ttl, manifest_exp - now), computed without overflow: a
// Manifest expiry at the bottom of the range must not wrap into a long life, nor one at the top
// into a refusal.
TEST(Renewal, LifetimeArithmeticNeverWraps) {
    const auto issuer = ed25519_key(1), holder = p256_key(2);
    const std::string tct =
        sign_token(*issuer, jws::kTypTct, tct_claims(*issuer, *holder, kMin, 1000).text());
    auto request = json::from_json<TctRenewalPayload>(build_renewal_request(*holder, tct));
    ASSERT_TRUE(request);
    const auto lifetime = [&](std::int64_t manifest_exp, std::int64_t now, std::int64_t ttl) {
        auto minted = process_renewal_request(*request, *issuer, manifest_exp, now, ttl);
        return minted ? std::to_string(minted->claims.exp - minted->claims.iat)
                      : minted.error().text();
    };
    const std::string expired = "TCT has expired or is not yet valid";
    EXPECT_EQ(lifetime(600, 500, 3600), "100");
    EXPECT_EQ(lifetime(kMin, 500, 3600), expired);
    EXPECT_EQ(lifetime(kMin + 400, 500, kMax), expired);
    EXPECT_EQ(lifetime(500, 500, 60), expired);
    EXPECT_EQ(lifetime(7700, 500, kMin), expired);
    EXPECT_EQ(lifetime(kMax, -10, 3600), "3600");
    EXPECT_EQ(lifetime(kMax, -10, kMax), std::to_string(kMax));
}

// The current TCT is read unverified before it is verified: its form is reported first, even
// for a token this agent never signed. The request's proof must be by the token's subject.
TEST(Renewal, ReadsTheTokenThenVerifiesItThenTheProof) {
    const auto issuer = ed25519_key(1), holder = ed25519_key(2), stranger = ed25519_key(9);
    const RawClaims foreign = tct_claims(*stranger, *holder, 0, 1000);
    const struct {
        std::string tct;
        const SigningKey& requester;
        std::string expected;
    } cases[] = {
        {sign_token(*stranger, jws::kTypTct, RawClaims(foreign).add("nbf", "1").text()), *holder,
         "unknown field: nbf"},
        {sign_token(*stranger, "JWT", RawClaims(foreign).add("nbf", "1").text()), *holder,
         "unknown field: nbf"},
        {sign_token(*stranger, jws::kTypTct, "{\"ver\":"), *holder,
         "claims malformed: EOF while parsing a value at line 1 column 7"},
        {sign_token(*stranger, jws::kTypTct, foreign.text()), *holder,
         "signature verification failed"},
        {sign_token(*issuer, jws::kTypTct, tct_claims(*issuer, *holder, 0, 1000).text()), *stranger,
         "TCT signature is invalid"},
    };
    for (const auto& c : cases) {
        auto request =
            json::from_json<TctRenewalPayload>(build_renewal_request(c.requester, c.tct));
        EXPECT_EQ(outcome(process_renewal_request(*request, *issuer, 2000, 500, 60)), c.expected);
    }
}

// A grant voucher over these claims, and its verification's outcome.
struct Voucher : MintTct {
    RawClaims claims() const {
        RawClaims c;
        c.set("ver", json_str("vesk/0.2"))
            .set("iss", json_str(issuer->aid().as_str()))
            .set("sub", json_str(holder->aid().as_str()))
            .set("grants", R"(["read"])")
            .set("iat", "10")
            .set("exp", "20")
            .set("src_jti", json_str(kJti));
        return c;
    }
    std::string voucher(const RawClaims& c) const {
        return sign_token(*issuer, jws::kTypGrant, c.text());
    }
    std::string check(const std::string& voucher) const {
        return outcome(verify_grant_voucher(voucher, issuer->aid()));
    }
};

TEST_F(Voucher, ChecksRunInOrderWithoutAnyTimeCheck) {
    const std::string long_form_iss = "aid:pubkey:ed25519:" + issuer->aid().as_str().substr(11);
    EXPECT_EQ(check(voucher(claims())), "ok");  // exp long past
    EXPECT_EQ(check(tampered(voucher(claims().add("aud", "1")))), "unknown field: aud");
    EXPECT_EQ(check(tampered(voucher(claims()))), "signature verification failed");
    EXPECT_EQ(check(sign_token(*issuer, jws::kTypTct, claims().text())),
              "JWS typ header mismatch: expected vesk-grant+jwt, got vesk-tct+jwt");
    EXPECT_TRUE(
        check(voucher(claims().set("sub", json_str("x")))).starts_with("claims malformed: AID "));
    EXPECT_EQ(check(voucher(claims().set("ver", json_str("v")).set("grants", "[]"))),
              "TCT version is not supported");
    EXPECT_EQ(check(voucher(claims().set("iss", json_str(long_form_iss)).set("grants", "[]"))),
              "TCT issuer does not match the verifying key");
    EXPECT_EQ(check(voucher(claims().set("grants", "[]"))), "TCT grants must be non-empty");
}

TEST_F(Voucher, MirrorRuleComparesSubjectGrantsTimesAndSourceJti) {
    auto minted = mint_tct(request(*issuer, *holder));
    const GrantVoucherClaims mirrored =
        *verify_grant_voucher(*minted->grant_voucher, issuer->aid());
    const auto with = [&](auto change) {
        GrantVoucherClaims copy = mirrored;
        change(copy);
        return outcome(check_voucher_mirrors(copy, minted->claims));
    };
    const std::string no = "claims malformed: grant voucher does not mirror the companion TCT";
    EXPECT_EQ(with([](auto& v) { v.ver = "other"; }), "ok");
    EXPECT_EQ(with([&](auto& v) { v.sub = issuer->aid(); }), no);
    EXPECT_EQ(with([](auto& v) { v.grants = {"write", "read"}; }), no);
    EXPECT_EQ(with([](auto& v) { v.iat += 1; }), no);
    EXPECT_EQ(with([](auto& v) { v.exp -= 1; }), no);
    EXPECT_EQ(with([](auto& v) { v.src_jti = Uuid::new_v4(); }), no);
}

}  // namespace
}  // namespace vesk
