#include <gtest/gtest.h>

#include "handshake_support.h"
#include "vesk/handshake/session.h"

namespace vesk::handshake {
namespace {

TEST(SessionConfig, TrustAnchorsAndResolver) {
    auto agent = testing::make_agent(testing::p256_key(4), "HTTPS://IdP.example");
    agent.manifest.accepted_trust_anchors = {"HTTPS://IdP.example", "x"};  // kept as they stand
    auto from_manifest = SessionConfig::create(agent.key, agent.manifest, std::nullopt, nullptr);
    ASSERT_TRUE(from_manifest);
    EXPECT_EQ(from_manifest->trust_anchors, agent.manifest.accepted_trust_anchors);
    EXPECT_EQ(from_manifest->identity.type, IdentityType::Oidc);
    EXPECT_EQ(from_manifest->identity.issuer, agent.manifest.identity_hint.issuer);
    EXPECT_EQ(*from_manifest->manifest, agent.manifest);
    const Url issuer = *parse_url("https://idp.example/");
    EXPECT_EQ(from_manifest->settings(5).resolver.resolve(issuer).error().kind,
              JwksResolveError::Kind::Resolve);
    EXPECT_EQ(from_manifest->settings(5).now, 5);

    auto store = std::make_shared<JwksStore>();
    auto given = SessionConfig::create(
        agent.key, agent.manifest,
        std::vector<std::string>{"https://B.example", "https://b.example/", "https://a.example/p"},
        store);
    ASSERT_TRUE(given);
    EXPECT_EQ(given->trust_anchors,
              (std::vector<std::string>{"https://b.example/", "https://b.example/",
                                        "https://a.example/p"}));
    // The session sees later changes of the shared store.
    ASSERT_TRUE(store->upsert(issuer, {Jwk{{}, {JwkKeyMaterial::Okp{}}}}));
    EXPECT_TRUE(given->settings(0).resolver.resolve(issuer));

    auto bad = SessionConfig::create(agent.key, agent.manifest,
                                     std::vector<std::string>{"https://ok/", "::"}, nullptr);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().text(), "relative URL without a base");
}

}  // namespace
}  // namespace vesk::handshake
