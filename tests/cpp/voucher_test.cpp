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
    std::string outcome(const std::string& voucher) const {
        return testing::outcome(verify_grant_voucher(voucher, issuer->aid()));
    }
    std::string voucher(const RawClaims& c) const {
        return sign_token(*issuer, jws::kTypGrant, c.text());
    }
};

TEST_F(Voucher, ChecksRunInOrderWithoutAnyTimeCheck) {
    const std::string long_form_iss = "aid:pubkey:ed25519:" + issuer->aid().as_str().substr(11);
    EXPECT_EQ(outcome(voucher(claims())), "ok");  // exp long past
    EXPECT_EQ(outcome(voucher(claims().set("ext", "null"))), "ok");
    EXPECT_EQ(outcome(tampered(voucher(claims().add("aud", "1")))), "unknown field: aud");
    EXPECT_EQ(outcome(tampered(voucher(claims()))), "signature verification failed");
    EXPECT_EQ(outcome(sign_token(*issuer, jws::kTypTct, claims().text())),
              "JWS typ header mismatch: expected vesk-grant+jwt, got vesk-tct+jwt");
    EXPECT_TRUE(
        outcome(voucher(claims().set("sub", json_str("x")))).starts_with("claims malformed: AID "));
    EXPECT_EQ(outcome(voucher(claims().set("ver", json_str("v")).set("grants", "[]"))),
              "TCT version is not supported");
    EXPECT_EQ(outcome(voucher(claims().set("iss", json_str(long_form_iss)).set("grants", "[]"))),
              "TCT issuer does not match the verifying key");
    EXPECT_EQ(outcome(voucher(claims().set("grants", "[]"))), "TCT grants must be non-empty");
}

TEST_F(Voucher, MirrorRuleComparesSubjectGrantsTimesAndSourceJti) {
    TctMintRequest request(*issuer);
    request.subject = request.audience = holder->aid();
    request.subject_pubkey = holder->verifying_key();
    request.grants = {"a", "b"};
    auto minted = mint_tct(std::move(request));
    auto mirrored = verify_grant_voucher(*minted->grant_voucher, issuer->aid());
    ASSERT_TRUE(mirrored);
    EXPECT_EQ(mirrored->src_jti, minted->claims.jti);

    const auto with = [&](auto change) {
        GrantVoucherClaims copy = *mirrored;
        change(copy);
        return testing::outcome(check_voucher_mirrors(copy, minted->claims));
    };
    const std::string no = "claims malformed: grant voucher does not mirror the companion TCT";
    EXPECT_EQ(with([](auto& v) { v.ver = "other"; }), "ok");
    EXPECT_EQ(with([&](auto& v) { v.sub = issuer->aid(); }), no);
    EXPECT_EQ(with([](auto& v) { v.grants = {"b", "a"}; }), no);
    EXPECT_EQ(with([](auto& v) { v.iat += 1; }), no);
    EXPECT_EQ(with([](auto& v) { v.exp -= 1; }), no);
    EXPECT_EQ(with([](auto& v) { v.src_jti = Uuid::new_v4(); }), no);
}

}  // namespace
}  // namespace vesk
