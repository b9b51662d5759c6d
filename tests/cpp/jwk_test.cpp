#include "vesk/handshake/jwk.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace vesk::handshake {
namespace {

using Members = std::map<std::string, std::string>;

std::expected<Jwk, JwkError> read(const Members& members) {
    return read_jwk([&](std::string_view name) -> std::optional<std::string_view> {
        auto found = members.find(std::string(name));
        if (found == members.end()) return std::nullopt;
        return found->second;
    });
}

std::string b64(std::size_t length, std::uint8_t fill) {
    return b64u_encode(Bytes(length, fill));
}

TEST(Jwk, ReadsEachKeyTypeAndItsKid) {
    auto okp = read({{"kty", "OKP"}, {"crv", "Ed25519"}, {"x", b64(32, 7)}, {"kid", "k1"}});
    ASSERT_TRUE(okp) << okp.error().text();
    EXPECT_EQ(okp->kid, "k1");
    std::array<std::uint8_t, 32> sevens;
    sevens.fill(7);
    EXPECT_EQ(std::get<JwkKeyMaterial::Okp>(okp->material.value).x, sevens);

    auto ec = read({{"kty", "EC"},
                    {"crv", "P-256"},
                    {"x", b64(32, 1)},
                    {"y", b64(32, 2)},
                    {"alg", "RS256"},
                    {"use", "enc"}});
    ASSERT_TRUE(ec) << ec.error().text();
    EXPECT_FALSE(ec->kid);
    const auto& point = std::get<JwkKeyMaterial::Ec>(ec->material.value);
    EXPECT_EQ(point.x[31], 1);
    EXPECT_EQ(point.y[0], 2);

    auto rsa = read({{"kty", "RSA"}, {"n", b64(3, 0xab)}, {"e", "AQAB"}});
    ASSERT_TRUE(rsa) << rsa.error().text();
    EXPECT_EQ(std::get<JwkKeyMaterial::Rsa>(rsa->material.value),
              (JwkKeyMaterial::Rsa{Bytes(3, 0xab), Bytes{1, 0, 1}}));
}

TEST(Jwk, RefusesUnsupportedAndMalformedKeysWithTheirReason) {
    struct Case {
        Members members;
        std::string text;
    };
    const std::string x32 = b64(32, 9);
    for (const Case& c : {
             Case{{{"crv", "Ed25519"}, {"x", x32}}, "malformed JWK: jwk missing kty"},
             Case{{{"kty", "oct"}, {"k", x32}}, "unsupported JWK: kty=oct"},
             Case{{{"kty", "okp"}, {"crv", "Ed25519"}, {"x", x32}}, "unsupported JWK: kty=okp"},
             Case{{{"kty", "OKP"}, {"crv", "X25519"}, {"x", x32}},
                  "unsupported JWK: OKP crv=X25519"},
             Case{{{"kty", "EC"}, {"x", x32}, {"y", x32}}, "unsupported JWK: EC crv="},
             Case{{{"kty", "EC"}, {"crv", "P-384"}, {"x", x32}, {"y", x32}},
                  "unsupported JWK: EC crv=P-384"},
             Case{{{"kty", "OKP"}, {"crv", "Ed25519"}, {"x", b64(31, 9)}},
                  "malformed JWK: OKP x must decode to 32 bytes, got 31"},
             Case{{{"kty", "OKP"}, {"crv", "Ed25519"}}, "malformed JWK: jwk missing x"},
             Case{{{"kty", "OKP"}, {"crv", "Ed25519"}, {"x", x32 + "="}},
                  "malformed JWK: x: base64url padding is forbidden in VESK"},
             Case{{{"kty", "EC"}, {"crv", "P-256"}, {"x", x32}}, "malformed JWK: jwk missing y"},
             Case{{{"kty", "EC"}, {"crv", "P-256"}, {"x", b64(33, 9)}, {"y", x32}},
                  "malformed JWK: EC x must decode to 32 bytes, got 33"},
             Case{{{"kty", "EC"}, {"crv", "P-256"}, {"x", x32}, {"y", b64(0, 0)}},
                  "malformed JWK: EC y must decode to 32 bytes, got 0"},
             Case{{{"kty", "RSA"}, {"e", "AQAB"}}, "malformed JWK: jwk missing n"},
             Case{{{"kty", "RSA"}, {"n", x32}}, "malformed JWK: jwk missing e"},
             Case{{{"kty", "RSA"}, {"n", "ab+c"}, {"e", "AQAB"}},
                  "malformed JWK: n: invalid base64url character"},
         }) {
        auto jwk = read(c.members);
        ASSERT_FALSE(jwk) << c.text;
        EXPECT_EQ(jwk.error().text(), c.text);
    }
}

}  // namespace
}  // namespace vesk::handshake
