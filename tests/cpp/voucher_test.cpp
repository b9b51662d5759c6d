#include "vesk/tokens/voucher.h"

#include <gtest/gtest.h>

#include <string>

#include "tct_support.h"
#include "vesk/tokens/mint.h"

namespace vesk {
namespace {

using namespace vesk::testing;

struct Voucher : ::testing::Test {
    SharedSigningKey issuer = ed25519_key(1);
    SharedSigningKey holder = ed25519_key(2);

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
    std::string token(const RawClaims& c, std::string_view typ = jws::kTypGrant) const {
        return sign_token(*issuer, header(*issuer, typ), c.text());
    }
    std::string outcome(std::string_view voucher) const {
        auto verified = verify_grant_voucher(voucher, issuer->aid());
        return verified ? "ok" : verified.error().text();
    }
};

TEST_F(Voucher, VerifiesWithoutLookingAtTimeOrSubject) {
    EXPECT_EQ(outcome(token(claims())), "ok");  // exp long past
    EXPECT_EQ(outcome(token(claims().set("ext", "null"))), "ok");
    auto verified = verify_grant_voucher(token(claims().set("ext", R"({"k":1})")), issuer->aid());
    ASSERT_TRUE(verified);
    EXPECT_TRUE(verified->ext);
    EXPECT_EQ(verified->src_jti.to_string(), kJti);
    EXPECT_EQ(verified->exp, 20);
}

TEST_F(Voucher, ReportsFailuresInOrder) {
    const std::string long_form_iss =
        "aid:pubkey:ed25519:" + issuer->aid().as_str().substr(std::string("aid:pubkey:").size());
    // The early member check runs before the signature is checked.
    EXPECT_EQ(outcome(tampered(token(claims().add("aud", json_str("x"))))), "unknown field: aud");
    EXPECT_EQ(outcome(tampered(token(claims()))), "signature verification failed");
    EXPECT_EQ(outcome(token(claims(), jws::kTypTct)),
              "JWS typ header mismatch: expected vesk-grant+jwt, got vesk-tct+jwt");
    EXPECT_EQ(outcome(token(claims().set("ver", json_str("v")).set("grants", "[]"))),
              "TCT version is not supported");
    EXPECT_EQ(outcome(token(claims().set("iss", json_str(long_form_iss)).set("grants", "[]"))),
              "TCT issuer does not match the verifying key");
    EXPECT_EQ(outcome(token(claims().set("grants", "[]"))), "TCT grants must be non-empty");
    EXPECT_TRUE(outcome(token(claims().drop("src_jti")))
                    .starts_with("claims malformed: missing field `src_jti`"));
    EXPECT_TRUE(outcome(token(claims().set("sub", json_str("nope"))))
                    .starts_with("claims malformed: AID "));
}

TEST_F(Voucher, MirrorRuleComparesSubjectGrantsTimesAndSourceJti) {
    TctMintRequest request(*issuer);
    request.subject = holder->aid();
    request.audience = holder->aid();
    request.subject_pubkey = holder->verifying_key();
    request.grants = {"a", "b"};
    request.issued_at = 10;
    auto minted = mint_tct(std::move(request));
    ASSERT_TRUE(minted && minted->grant_voucher);
    auto voucher = verify_grant_voucher(*minted->grant_voucher, issuer->aid());
    ASSERT_TRUE(voucher);
    EXPECT_TRUE(check_voucher_mirrors(*voucher, minted->claims));

    const std::string not_mirrored =
        "claims malformed: grant voucher does not mirror the companion TCT";
    const auto broken = [&](auto change) {
        GrantVoucherClaims copy = *voucher;
        change(copy);
        auto checked = check_voucher_mirrors(copy, minted->claims);
        return checked ? "ok" : checked.error().text();
    };
    EXPECT_EQ(broken([&](auto& v) { v.sub = issuer->aid(); }), not_mirrored);
    EXPECT_EQ(broken([](auto& v) { v.grants = {"b", "a"}; }), not_mirrored);
    EXPECT_EQ(broken([](auto& v) { v.grants.push_back("a"); }), not_mirrored);
    EXPECT_EQ(broken([](auto& v) { v.iat += 1; }), not_mirrored);
    EXPECT_EQ(broken([](auto& v) { v.exp -= 1; }), not_mirrored);
    EXPECT_EQ(broken([](auto& v) { v.src_jti = Uuid::new_v4(); }), not_mirrored);
    EXPECT_EQ(broken([](auto& v) { v.ver = "other"; }), "ok");
}

TEST_F(Voucher, SigningIsDeterministicAndCanonical) {
    auto parsed = verify_grant_voucher(token(claims()), issuer->aid());
    ASSERT_TRUE(parsed);
    auto a = sign_grant_voucher(*issuer, *parsed);
    auto b = sign_grant_voucher(*issuer, *parsed);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a, *b);
    auto payload = jws::decode_segment(*a);
    EXPECT_EQ(as_text(*payload), "{\"exp\":20,\"grants\":[\"read\"],\"iat\":10,\"iss\":\"" +
                                     issuer->aid().as_str() + "\",\"src_jti\":\"" +
                                     std::string(kJti) + "\",\"sub\":\"" + holder->aid().as_str() +
                                     "\",\"ver\":\"vesk/0.2\"}");
}

}  // namespace
}  // namespace vesk
