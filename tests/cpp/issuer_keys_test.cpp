// The keys of OIDC issuers: JWKs, the store that resolves them, and the trust anchors and resolver
// of a session.
#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "vesk/handshake/jwk.h"
#include "vesk/handshake/jwks.h"
#include "vesk/handshake/session.h"

namespace vesk::handshake {
namespace {

std::expected<Jwk, JwkError> read(const std::string& text) {
    auto value = json::parse(text);
    if (!value || value->as_object() == nullptr) ADD_FAILURE() << "test JSON not an object";
    return read_jwk(*value->as_object());
}

std::string b64u_quoted(std::span<const std::uint8_t> bytes) {
    return '"' + b64u_encode(bytes) + '"';
}

std::string b64(std::size_t length, std::uint8_t fill) {
    return b64u_quoted(Bytes(length, fill));
}

const std::string x32 = b64(32, 9);

// A JWK's own alg and use are ignored; a kid that is not a string counts as absent.
TEST(Jwk, ReadsEachKeyTypeWithItsKid) {
    std::array<std::uint8_t, 32> sevens, ones{}, twos{};
    sevens.fill(7);
    ones[31] = 1;
    twos[0] = 2;
    const std::pair<std::string, Jwk> cases[] = {
        {R"({"kty":"OKP","crv":"Ed25519","alg":"RS256","kid":"k1","x":)" + b64(32, 7) + "}",
         Jwk{"k1", {JwkKeyMaterial::Okp{sevens}}}},
        {R"({"kty":"EC","crv":"P-256","use":"enc","kid":7,"x":)" + b64u_quoted(ones) + R"(,"y":)" +
             b64u_quoted(twos) + "}",
         Jwk{{}, {JwkKeyMaterial::Ec{ones, twos}}}},
        {R"({"kty":"RSA","kid":null,"e":"AQAB","n":)" + b64(3, 0xab) + "}",
         Jwk{{}, {JwkKeyMaterial::Rsa{Bytes(3, 0xab), Bytes{1, 0, 1}}}}},
    };
    for (const auto& [text, jwk] : cases) EXPECT_EQ(read(text), jwk) << text;
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
             Case{R"({"kty":"OKP","crv":"Ed25519","x":)" + b64(31, 9) + "}",
                  "malformed JWK: OKP x must decode to 32 bytes, got 31"},
             Case{R"({"kty":"OKP","crv":"Ed25519"})", "malformed JWK: jwk missing x"},
             Case{R"({"kty":"OKP","crv":"Ed25519","x":")" + b64u_encode(Bytes(32, 9)) + R"(="})",
                  "malformed JWK: x: base64url padding is forbidden in VESK"},
             Case{R"({"kty":"EC","crv":"P-256","x":)" + x32 + "}", "malformed JWK: jwk missing y"},
             Case{R"({"kty":"EC","crv":"P-256","y":"","x":)" + x32 + "}",
                  "malformed JWK: EC y must decode to 32 bytes, got 0"},
             Case{R"({"kty":"RSA","n":)" + x32 + "}", "malformed JWK: jwk missing e"},
             Case{R"({"kty":"RSA","n":"ab+c","e":"AQAB"})",
                  "malformed JWK: n: invalid base64url character"},
         }) {
        auto jwk = read(c.json);
        ASSERT_FALSE(jwk) << c.json;
        EXPECT_EQ(jwk.error().text(), c.text) << c.json;
    }
}

Jwk okp(std::uint8_t fill, std::optional<std::string> kid = {}) {
    JwkKeyMaterial::Okp material;
    material.x.fill(fill);
    return Jwk{std::move(kid), {material}};
}

Url url(std::string_view text) {
    return *parse_url(text);
}

TEST(JwksStore, ResolvesByNormalisedIssuer) {
    JwksStore store;
    ASSERT_TRUE(store.upsert(url("HTTPS://Issuer.Example:443"), {okp(1, "a"), okp(2)}));
    for (std::string_view spelling : {"https://issuer.example/", "https://ISSUER.example"}) {
        auto keys = store.resolve(url(spelling));
        ASSERT_TRUE(keys) << spelling;
        EXPECT_EQ(*keys, (std::vector<Jwk>{okp(1, "a"), okp(2)}));
    }

    // Replaced by a later registration; an empty list is registered but not trusted.
    ASSERT_TRUE(store.upsert(url("https://issuer.example/"), {}));
    EXPECT_EQ(*store.issuers(), std::vector<std::string>{"https://issuer.example/"});
    EXPECT_EQ(testing::outcome(store.resolve(url("https://issuer.example"))),
              "issuer not trusted: https://issuer.example/");

    EXPECT_EQ(store.resolve(url("https://other.example/a?b")).error().text(),
              "issuer not trusted: https://other.example/a?b");
}

TEST(SessionConfig, TrustAnchorsAndResolver) {
    auto agent = testing::make_agent(testing::p256_key(4), "HTTPS://IdP.example");
    agent.manifest.accepted_trust_anchors = {"HTTPS://IdP.example", "x"};  // kept as they stand
    auto from_manifest = SessionConfig::create(agent.key, agent.manifest, std::nullopt, nullptr);
    EXPECT_EQ(from_manifest->trust_anchors, agent.manifest.accepted_trust_anchors);
    EXPECT_EQ(from_manifest->identity.issuer, agent.manifest.identity_hint.issuer);
    const Url issuer = *parse_url("https://idp.example/");
    EXPECT_EQ(testing::outcome(from_manifest->settings(5).resolver.resolve(issuer)),
              "could not resolve issuer keys: no JWKS resolver configured for this session "
              "(pinned-key only)");

    auto store = std::make_shared<JwksStore>();
    auto given = SessionConfig::create(
        agent.key, agent.manifest,
        std::vector<std::string>{"https://B.example", "https://b.example/", "https://a.example/p"},
        store);
    EXPECT_EQ(given->trust_anchors,
              (std::vector<std::string>{"https://b.example/", "https://b.example/",
                                        "https://a.example/p"}));
    // The session sees later changes of the shared store.
    ASSERT_TRUE(store->upsert(issuer, {Jwk{{}, {JwkKeyMaterial::Okp{}}}}));
    EXPECT_TRUE(given->settings(0).resolver.resolve(issuer));
    EXPECT_EQ(
        testing::outcome(SessionConfig::create(
            agent.key, agent.manifest, std::vector<std::string>{"https://ok/", "::"}, nullptr)),
        "relative URL without a base");
}

}  // namespace
}  // namespace vesk::handshake
