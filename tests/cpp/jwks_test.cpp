#include "vesk/handshake/jwks.h"

#include <gtest/gtest.h>

namespace vesk::handshake {
namespace {

Jwk okp(std::uint8_t fill, std::optional<std::string> kid = {}) {
    JwkKeyMaterial::Okp material;
    material.x.fill(fill);
    return Jwk{std::move(kid), {material}};
}

Url url(std::string_view text) {
    return *parse_url(text);
}

TEST(JwksStore, ResolvesByNormalisedIssuerAndReturnsCopies) {
    JwksStore store;
    ASSERT_TRUE(store.upsert(url("HTTPS://Issuer.Example:443"), {okp(1, "a"), okp(2)}));
    for (std::string_view spelling : {"https://issuer.example/", "https://ISSUER.example"}) {
        auto keys = store.resolve(url(spelling));
        ASSERT_TRUE(keys) << spelling;
        EXPECT_EQ(*keys, (std::vector<Jwk>{okp(1, "a"), okp(2)}));
    }
    auto copy = *store.resolve(url("https://issuer.example/"));
    copy.clear();
    EXPECT_EQ(store.resolve(url("https://issuer.example/"))->size(), 2u);

    // Replaced by a later registration; an empty list is registered but not trusted.
    ASSERT_TRUE(store.upsert(url("https://issuer.example/"), {}));
    EXPECT_EQ(*store.issuers(), std::vector<std::string>{"https://issuer.example/"});
    auto empty = store.resolve(url("https://issuer.example"));
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.error().text(), "issuer not trusted: https://issuer.example/");

    EXPECT_EQ(store.resolve(url("https://other.example/a?b")).error().text(),
              "issuer not trusted: https://other.example/a?b");
}

TEST(NoJwksResolver, RefusesEveryIssuer) {
    auto refused = NoJwksResolver().resolve(url("https://issuer.example/"));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, JwksResolveError::Kind::Resolve);
    EXPECT_EQ(refused.error().text(),
              "could not resolve issuer keys: no JWKS resolver configured for this session "
              "(pinned-key only)");
}

}  // namespace
}  // namespace vesk::handshake
