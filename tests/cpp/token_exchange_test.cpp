#include "vesk/handshake/token_exchange.h"

#include <gtest/gtest.h>

#include "fixtures.h"
#include "vesk/core/base64url.h"

namespace vesk::handshake {
namespace {

using testing::ed25519_key;
using testing::p256_key;
using Grants = std::vector<std::string>;

constexpr std::int64_t kNow = 1'700'000'000;

manifest::Manifest manifest_of(const SigningKey& key, Grants offered, std::int64_t expires_at) {
    return {{}, key.aid(), {}, {},         {}, {}, {}, {}, std::move(offered),
            {}, {},        0,  expires_at, {}, {}};
}

// The settings of a step of the side holding `key` and `own`.
SessionSettings settings_of(const SigningKey& key, const manifest::Manifest& own,
                            std::int64_t now) {
    static const std::vector<std::string> no_anchors;
    static const NoJwksResolver no_resolver;
    return SessionSettings{key, own, no_anchors, no_resolver, nullptr, now};
}

TEST(GrantNegotiation, KeepsTheFirstListsOrderAndRepeats) {
    EXPECT_EQ(intersect_grants({"A", "B", "A"}, {"B", "A"}), (Grants{"A", "B", "A"}));
    EXPECT_EQ(intersect_grants({"B", "C", "A"}, {"A", "B"}), (Grants{"B", "A"}));
    EXPECT_EQ(intersect_grants({"a", "read "}, {"A", "read"}), Grants{});
}

// The issuer is one suite, the peer the other, so the TCT binds a key of another suite.
struct IssuePeerTct : ::testing::Test {
    SharedSigningKey issuer = p256_key(3);
    SharedSigningKey peer = ed25519_key(4);
};

TEST_F(IssuePeerTct, LifetimeIsBoundedByTheOwnManifestAndAnHour) {
    struct Case {
        std::int64_t manifest_expires_at;
        std::int64_t expected_exp;
    };
    for (const Case c : {Case{kNow + 100, kNow + 100}, Case{kNow + 7200, kNow + 3600},
                         Case{kNow + 3600, kNow + 3600}}) {
        const auto own_manifest = manifest_of(*issuer, {"A", "B"}, c.manifest_expires_at);
        const SessionSettings own = settings_of(*issuer, own_manifest, kNow);
        auto issued = issue_peer_tct(own, peer->aid(), peer->verifying_key(), {"B", "C", "A"});
        ASSERT_TRUE(issued) << testing::outcome(issued);
        EXPECT_EQ(issued->claims.exp - issued->claims.iat, c.expected_exp - kNow);
        EXPECT_EQ(issued->claims.grants, (Grants{"B", "A"}));
        EXPECT_EQ(issued->claims.aud, peer->aid());
        ASSERT_TRUE(issued->grant_voucher);

        // The peer accepts the pair, voucher included.
        const auto peer_manifest = manifest_of(*peer, {}, kNow + 3600);
        const SessionSettings receiver = settings_of(*peer, peer_manifest, kNow);
        const TokenIssuer from{issuer->aid(), c.manifest_expires_at,
                               own_manifest.offered_capabilities};
        auto verified =
            verify_peer_issued_tct(receiver, issued->token, issued->grant_voucher, from);
        EXPECT_TRUE(verified) << testing::outcome(verified);
    }
}

TEST_F(IssuePeerTct, RefusalsCarryTheirTexts) {
    struct Case {
        Grants offered;
        Grants requested;
        std::int64_t manifest_expires_at;
        std::string text;
    };
    const Case cases[] = {
        {{"A"}, {"C"}, kNow + 100, "policy denies handshake (empty grant intersection)"},
        {{"A"},
         {"A"},
         kNow,
         "invalid envelope: issuing peer's manifest is expired; cannot issue TCT"},
        {{"a b"},
         {"a b"},
         kNow + 100,
         "TCT verification failed: TCT grant must not contain whitespace: `a b`"},
    };
    for (const Case& c : cases) {
        const auto own_manifest = manifest_of(*issuer, c.offered, c.manifest_expires_at);
        auto issued = issue_peer_tct(settings_of(*issuer, own_manifest, kNow), peer->aid(),
                                     peer->verifying_key(), c.requested);
        EXPECT_EQ(testing::outcome(issued), c.text);
    }
}

const std::string kPopFailed = "pop signature verification failed";

TEST(ProofOfPossession, VerifiesWithTheSignersKeyOverTheNonceSent) {
    for (const SharedSigningKey& key : {ed25519_key(7), p256_key(7)}) {
        const std::string nonce = b64u_encode(Bytes(16, 0x5a));
        const std::string signature = *pop_sign_nonce(*key, nonce);
        const VerifyingKey& own = key->verifying_key();
        const auto other = key->algorithm() == Algorithm::P256 ? p256_key(8) : ed25519_key(8);
        const std::pair<std::expected<void, HandshakeError>, std::string> cases[] = {
            {pop_verify_nonce(own, nonce, signature), "ok"},
            {pop_verify_nonce(other->verifying_key(), nonce, signature), kPopFailed},
            {pop_verify_nonce(own, b64u_encode(Bytes(15, 0x5a)) + "A", signature), kPopFailed},
            {pop_verify_nonce(own, nonce, "not a signature"), kPopFailed},
            {pop_verify_nonce(own, "bad=", signature), kPopFailed},
        };
        for (const auto& [result, text] : cases) EXPECT_EQ(testing::outcome(result), text);
        // Signing refuses what does not decode; nonces of other lengths are tested end to end.
        EXPECT_EQ(testing::outcome(pop_sign_nonce(*key, nonce + "=")),
                  "invalid envelope: pop nonce is not valid base64url");
    }
}

class PeerIssuedTct : public ::testing::Test {
  protected:
    SharedSigningKey issuer = ed25519_key(11);
    SharedSigningKey holder = p256_key(12);
    Grants issuer_offered{"A", "B"};
    manifest::Manifest issuer_manifest = manifest_of(*issuer, issuer_offered, kNow + 3600);
    manifest::Manifest holder_manifest = manifest_of(*holder, {}, kNow + 3600);

    IssuedTct issue(Grants requested, std::int64_t at = kNow) {
        return *issue_peer_tct(settings_of(*issuer, issuer_manifest, at), holder->aid(),
                               holder->verifying_key(), requested);
    }
    std::string check(const IssuedTct& pair, std::int64_t now = kNow,
                      std::int64_t issuer_expires_at = kNow + 3600,
                      std::optional<Grants> offered = std::nullopt) {
        const Grants& offered_list = offered ? *offered : issuer_offered;
        return testing::outcome(verify_peer_issued_tct(
            settings_of(*holder, holder_manifest, now), pair.token, pair.grant_voucher,
            {issuer->aid(), issuer_expires_at, offered_list}));
    }
};

TEST_F(PeerIssuedTct, BindsTheTokenToTheIssuersManifestAndTheClock) {
    IssuedTct pair = issue({"A", "B"});
    EXPECT_EQ(check(pair, pair.claims.exp), "ok");  // exp equal to now
    EXPECT_EQ(check(pair, kNow, pair.claims.exp - 1),
              "TCT verification failed: TCT expires_at exceeds issuer Manifest expires_at");
    EXPECT_EQ(check(pair, pair.claims.exp + 1),
              "TCT verification failed: TCT has expired or is not yet valid");
    EXPECT_EQ(check(pair, kNow, kNow + 3600, Grants{"A"}),
              "peer-issued TCT grants exceed the issuer's offered_capabilities");
    EXPECT_EQ(check(pair, kNow, kNow + 3600, Grants{}),
              "peer-issued TCT grants exceed the issuer's offered_capabilities");
    pair.grant_voucher.reset();  // the voucher is optional
    EXPECT_EQ(check(pair), "ok");
}

TEST_F(PeerIssuedTct, RequiresTheCapabilitiesTheOwnManifestNames) {
    const IssuedTct pair = issue({"A"});
    holder_manifest.required_peer_capabilities = Grants{"B"};
    EXPECT_EQ(check(pair), "insufficient grants in peer-issued TCT");
    holder_manifest.required_peer_capabilities = Grants{"A"};
    EXPECT_EQ(check(pair), "ok");
}

TEST_F(PeerIssuedTct, RefusesATokenIssuedToSomeoneElse) {
    const IssuedTct pair = issue({"A"});
    holder_manifest.aid = ed25519_key(13)->aid();
    EXPECT_EQ(check(pair), "TCT verification failed: TCT audience does not match");
}

}  // namespace
}  // namespace vesk::handshake
