#include "vesk/handshake/jwk.h"

#include <gtest/gtest.h>

#include <string>

#include "vesk/core/json_reader.h"

namespace vesk::handshake {
namespace {

std::expected<Jwk, JwkError> read(const std::string& text) {
    auto value = json::parse(text);
    if (!value || value->as_object() == nullptr) ADD_FAILURE() << "test JSON not an object";
    return read_jwk(*value->as_object());
}

std::string b64(std::size_t length, std::uint8_t fill) {
    return '"' + b64u_encode(Bytes(length, fill)) + '"';
}

const std::string x32 = b64(32, 9);

TEST(Jwk, ReadsEachKeyTypeWithItsAlgAndKid) {
    auto okp =
        read(R"({"kty":"OKP","crv":"Ed25519","alg":"RS256","kid":"k1","x":)" + b64(32, 7) + "}");
    ASSERT_TRUE(okp) << okp.error().text();
    EXPECT_EQ(okp->kid, "k1");
    EXPECT_EQ(okp->alg(), JwsAlg::EdDSA);
    std::array<std::uint8_t, 32> sevens;
    sevens.fill(7);
    EXPECT_EQ(std::get<JwkKeyMaterial::Okp>(okp->material.value).x, sevens);

    auto ec = read(R"({"kty":"EC","crv":"P-256","use":"enc","kid":7,"x":)" + b64(32, 1) +
                   R"(,"y":)" + b64(32, 2) + "}");
    ASSERT_TRUE(ec) << ec.error().text();
    EXPECT_FALSE(ec->kid);  // a number is no key identifier
    EXPECT_EQ(ec->alg(), JwsAlg::ES256);
    const auto& point = std::get<JwkKeyMaterial::Ec>(ec->material.value);
    EXPECT_EQ(point.x[31], 1);
    EXPECT_EQ(point.y[0], 2);

    auto rsa = read(R"({"kty":"RSA","kid":null,"e":"AQAB","n":)" + b64(3, 0xab) + "}");
    ASSERT_TRUE(rsa) << rsa.error().text();
    EXPECT_FALSE(rsa->kid);
    EXPECT_EQ(rsa->alg(), JwsAlg::RS256);
    EXPECT_EQ(std::get<JwkKeyMaterial::Rsa>(rsa->material.value),
              (JwkKeyMaterial::Rsa{Bytes(3, 0xab), Bytes{1, 0, 1}}));
}

TEST(Jwk, RefusesUnsupportedAndMalformedKeysWithTheirReason) {
    struct Case {
        std::string json;
        std::string text;
    };
    for (const Case& c : {
             Case{R"({"crv":"Ed25519","x":)" + x32 + "}", "malformed JWK: jwk missing kty"},
             Case{R"({"kty":1,"crv":"Ed25519","x":)" + x32 + "}", "malformed JWK: jwk missing kty"},
             Case{R"({"kty":"oct","k":)" + x32 + "}", "unsupported JWK: kty=oct"},
             Case{R"({"kty":"OKP","crv":"X25519","x":)" + x32 + "}",
                  "unsupported JWK: OKP crv=X25519"},
             Case{R"({"kty":"EC","x":)" + x32 + R"(,"y":)" + x32 + "}", "unsupported JWK: EC crv="},
             Case{R"({"kty":"EC","crv":256,"x":)" + x32 + R"(,"y":)" + x32 + "}",
                  "unsupported JWK: EC crv="},
             Case{R"({"kty":"OKP","crv":"Ed25519","x":)" + b64(31, 9) + "}",
                  "malformed JWK: OKP x must decode to 32 bytes, got 31"},
             Case{R"({"kty":"OKP","crv":"Ed25519"})", "malformed JWK: jwk missing x"},
             Case{R"({"kty":"OKP","crv":"Ed25519","x":["AA"]})", "malformed JWK: jwk missing x"},
             Case{R"({"kty":"OKP","crv":"Ed25519","x":")" + b64u_encode(Bytes(32, 9)) + R"(="})",
                  "malformed JWK: x: base64url padding is forbidden in VESK"},
             Case{R"({"kty":"EC","crv":"P-256","x":)" + x32 + "}", "malformed JWK: jwk missing y"},
             Case{R"({"kty":"EC","crv":"P-256","y":"","x":)" + x32 + "}",
                  "malformed JWK: EC y must decode to 32 bytes, got 0"},
             Case{R"({"kty":"RSA","e":"AQAB"})", "malformed JWK: jwk missing n"},
             Case{R"({"kty":"RSA","n":)" + x32 + "}", "malformed JWK: jwk missing e"},
             Case{R"({"kty":"RSA","n":"ab+c","e":"AQAB"})",
                  "malformed JWK: n: invalid base64url character"},
         }) {
        auto jwk = read(c.json);
        ASSERT_FALSE(jwk) << c.json;
        EXPECT_EQ(jwk.error().text(), c.text) << c.json;
    }
}

}  // namespace
}  // namespace vesk::handshake
