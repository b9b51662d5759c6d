#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "tct_support.h"
#include "vesk/tokens/mint.h"
#include "vesk/tokens/verify.h"
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
    std::string refusal(TctMintRequest r) const {
        auto minted = mint_tct(std::move(r));
        return minted ? "ok" : minted.error().text();
    }
};

TEST_F(MintTct, RefusesBadRequestsInOrder) {
    TctMintRequest none(*issuer);
    none.grants = {"a b"};
    EXPECT_EQ(refusal(std::move(none)), "missing required field: subject");
    auto no_audience = request(*issuer, *holder);
    no_audience.audience.reset();
    no_audience.grants.clear();
    EXPECT_EQ(refusal(std::move(no_audience)), "missing required field: audience");
    auto no_key = request(*issuer, *holder);
    no_key.subject_pubkey.reset();
    EXPECT_EQ(refusal(std::move(no_key)), "missing required field: subject_pubkey");
    auto empty = request(*issuer, *holder);
    empty.grants.clear();
    empty.audience = issuer->aid();
    EXPECT_EQ(refusal(std::move(empty)), "TCT grants must be non-empty");
    for (const std::string grant : {"read write", "a\u00a0b", "\u3000", "x\n"}) {
        auto spaced = request(*issuer, *holder);
        spaced.grants = {"ok", grant, "also bad"};
        spaced.audience = issuer->aid();
        EXPECT_EQ(refusal(std::move(spaced)),
                  "TCT grant must not contain whitespace: `" + grant + "`");
    }
    auto two_forms = request(*issuer, *holder);
    two_forms.subject = aid("aid:pubkey:ed25519:" +
                            holder->aid().as_str().substr(std::string("aid:pubkey:").size()));
    EXPECT_EQ(refusal(std::move(two_forms)), "TCT audience does not match");
    auto other_suite = request(*issuer, *holder);
    other_suite.subject_pubkey = p256_holder->verifying_key();
    EXPECT_EQ(refusal(std::move(other_suite)), "TCT cnf.jkt does not match the subject key");
    auto other_key = request(*issuer, *holder);
    other_key.subject_pubkey = issuer->verifying_key();
    EXPECT_EQ(refusal(std::move(other_key)), "TCT cnf.jkt does not match the subject key");
    auto odd_grants = request(*issuer, *holder);
    odd_grants.grants = {"", "x\u200by"};
    EXPECT_EQ(refusal(std::move(odd_grants)), "ok");
}

TEST_F(MintTct, WritesCanonicalClaimsThatVerify) {
    auto minted = mint_tct(request(*issuer, *holder));
    ASSERT_TRUE(minted) << minted.error().text();
    const std::string jkt = *jwk_thumbprint(holder->verifying_key());
    const auto segments = minted->token.substr(0, minted->token.find('.'));
    EXPECT_EQ(*b64u_decode(segments),
              Bytes(std::string_view(R"({"alg":"EdDSA","typ":"vesk-tct+jwt"})").begin(),
                    std::string_view(R"({"alg":"EdDSA","typ":"vesk-tct+jwt"})").end()));
    const std::string expected_payload =
        "{\"aud\":\"" + holder->aid().as_str() + "\",\"cnf\":{\"jkt\":\"" + jkt +
        "\"},\"exp\":4600,\"grants\":[\"read\",\"write\"],\"iat\":1000,\"iss\":\"" +
        issuer->aid().as_str() + "\",\"jti\":\"" + std::string(kJti) + "\",\"sub\":\"" +
        holder->aid().as_str() + "\",\"ver\":\"vesk/0.2\"}";
    auto payload = jws::decode_segment(minted->token);
    ASSERT_TRUE(payload);
    EXPECT_EQ(std::string(payload->begin(), payload->end()), expected_payload);
    EXPECT_EQ(minted->claims.cnf.jkt, jkt);
    EXPECT_FALSE(minted->claims.ext);

    const TctVerifyOptions options{.issuer_manifest_expires_at = 4600,
                                   .expected_audience = holder->aid(),
                                   .issuer = issuer->aid(),
                                   .now = 4600};
    EXPECT_TRUE(verify_tct_token(minted->token, options));
}

TEST_F(MintTct, IsDeterministicForBothSuitesAndTheVoucherMirrors) {
    for (const auto& signer : {issuer, p256_key(5)}) {
        auto a = mint_tct(request(*signer, *p256_holder));
        auto b = mint_tct(request(*signer, *p256_holder));
        auto bare = request(*signer, *p256_holder);
        bare.with_grant_voucher = false;
        auto c = mint_tct(std::move(bare));
        ASSERT_TRUE(a && b && c);
        EXPECT_EQ(a->token, b->token);
        EXPECT_EQ(a->grant_voucher, b->grant_voucher);
        EXPECT_EQ(c->token, a->token);
        EXPECT_FALSE(c->grant_voucher);
        ASSERT_TRUE(a->grant_voucher);
        auto voucher = verify_grant_voucher(*a->grant_voucher, signer->aid());
        ASSERT_TRUE(voucher) << voucher.error().text();
        EXPECT_TRUE(check_voucher_mirrors(*voucher, a->claims));
        EXPECT_EQ(voucher->src_jti.to_string(), kJti);
    }
}

TEST_F(MintTct, DrawsFreshIdentifiersAndTheClockWhenNotGiven) {
    auto r1 = request(*issuer, *holder);
    r1.jti.reset();
    r1.issued_at.reset();
    auto r2 = request(*issuer, *holder);
    r2.jti.reset();
    auto a = mint_tct(std::move(r1));
    auto b = mint_tct(std::move(r2));
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->claims.jti, b->claims.jti);
    EXPECT_EQ(a->claims.jti.to_string()[14], '4');
    EXPECT_GT(a->claims.iat, 1'600'000'000);
    EXPECT_EQ(a->claims.exp, a->claims.iat + kDefaultTctTtlSecs);
}

TEST_F(MintTct, ExpirySaturatesAtTheLimits) {
    const struct {
        std::int64_t iat, ttl, exp;
    } cases[] = {{1, kMax, kMax},  {kMax, 1, kMax},   {-1, kMin, kMin},
                 {kMin, -1, kMin}, {100, -200, -100}, {5, 0, 5}};
    for (const auto& c : cases) {
        auto r = request(*issuer, *holder);
        r.issued_at = c.iat;
        r.ttl_secs = c.ttl;
        auto minted = mint_tct(std::move(r));
        ASSERT_TRUE(minted);
        EXPECT_EQ(minted->claims.exp, c.exp) << c.iat << " + " << c.ttl;
    }
    // 2^63 - 1 is written as a rounded double, which no longer reads as a 64-bit integer.
    auto r = request(*issuer, *holder);
    r.ttl_secs = kMax;
    auto minted = mint_tct(std::move(r));
    auto payload = jws::decode_segment(minted->token);
    EXPECT_NE(std::string(payload->begin(), payload->end()).find("\"exp\":9223372036854776000"),
              std::string::npos);
}

TEST(TctEnvelope, WritesTokenThenVoucherOrNull) {
    EXPECT_EQ(tct_envelope_json("a.b.c", std::string("d.e.f")),
              R"({"tct":"a.b.c","grant_voucher":"d.e.f"})");
    EXPECT_EQ(tct_envelope_json("a.b.c", std::nullopt), R"({"tct":"a.b.c","grant_voucher":null})");
}

}  // namespace
}  // namespace vesk
