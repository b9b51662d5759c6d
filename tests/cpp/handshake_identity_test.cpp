#include <gtest/gtest.h>

#include <string>

#include "handshake_support.h"
#include "vesk/core/base64url.h"
#include "vesk/handshake/identity.h"

namespace vesk::handshake {
namespace {

constexpr std::int64_t kNow = 1700000100;
const Uuid kId = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
constexpr std::string_view kNonce = "AAECAwQFBgcICQoLDA0ODw";

TEST(PinnedKeySigningInput, FieldsSeparatedByZeroBytes) {
    auto input = pinned_key_signing_input("P", "V", kId, -42, kNonce);
    ASSERT_TRUE(input);
    std::string expected = std::string("vesk-pinned-key-v1") + '\0' + "P" + '\0' + "V" + '\0' +
                           "0f8fad5b-d9cb-469f-a165-70867728950e" + '\0' + "-42" + '\0';
    for (int i = 0; i < 16; ++i) expected += static_cast<char>(i);
    EXPECT_EQ(std::string(input->begin(), input->end()), expected);
    EXPECT_EQ(input->size(), 59u + 1 + 1 + 3 + 16);

    auto zero = pinned_key_signing_input("P", "V", kId, 0, "");
    ASSERT_TRUE(zero);
    EXPECT_EQ(std::string(zero->end() - 3, zero->end()), std::string("\0"
                                                                     "0\0",
                                                                     3));

    auto bad = pinned_key_signing_input("P", "V", kId, 0, "AA==");
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().text(), "identity verification failed: pop_nonce is not valid base64url");
}

TEST(OwnIdentity, PreparationRules) {
    using K = PrepareError::Kind;
    MintJwtFn mint = [](std::string_view) { return std::string("jwt"); };
    struct Case {
        OwnIdentity identity;
        bool with_minter;
        std::optional<K> refusal;
        std::string text;
    };
    const Case cases[] = {
        {{IdentityType::PinnedKey, "s", {}}, true, {}, ""},
        {{IdentityType::Oidc, "s", "https://i.example"}, true, {}, ""},
        {{IdentityType::Oidc, "s", "https://i.example"},
         false,
         K::MissingCallable,
         "agent manifest is OIDC; `oidc_mint_jwt` callable is required"},
        {{IdentityType::Oidc, "s", {}},
         true,
         K::MissingIssuer,
         "OIDC identity_hint missing issuer (build_manifest invariant violated)"},
        {{IdentityType::Oidc, "s", "not a url"},
         true,
         K::IssuerNotUrl,
         "identity_hint.issuer not a URL: relative URL without a base"},
    };
    for (const Case& c : cases) {
        auto prepared =
            prepare_oidc_identity(c.identity, c.with_minter ? std::optional(mint) : std::nullopt);
        if (!c.refusal) {
            EXPECT_TRUE(prepared) << c.identity.subject;
            continue;
        }
        ASSERT_FALSE(prepared);
        EXPECT_EQ(prepared.error().kind, *c.refusal);
        EXPECT_EQ(prepared.error().text(), c.text);
    }
}

TEST(OwnIdentity, OidcBlockCarriesTheMintedTokenForTheNonce) {
    std::string seen_nonce;
    MintJwtFn mint = [&](std::string_view nonce) {
        seen_nonce = nonce;
        return std::string();  // even an empty token is placed unchanged
    };
    auto prepared =
        prepare_oidc_identity({IdentityType::Oidc, "sub", "HTTPS://Issuer.Example"}, mint);
    ASSERT_TRUE(prepared);
    auto key = testing::p256_key(1);
    ProofContext context{"prover", "verifier", kId, kNonce, kNow};
    auto block = build_identity_proof(*prepared, context, *key);
    ASSERT_TRUE(block);
    EXPECT_EQ(seen_nonce, kNonce);
    EXPECT_EQ(*block, (IdentityDescriptor{
                          IdentityType::Oidc, "https://issuer.example/", "sub", "", {}, {}}));
}

// A pinned-key proof by `prover` for `verifier`, carried in an envelope with kId and kNow.
struct PinnedProof : ::testing::Test {
    testing::TestAgent prover = testing::make_agent(testing::ed25519_key(11));
    testing::TestAgent verifier = testing::make_agent(testing::ed25519_key(12));

    IdentityDescriptor prove(std::string_view verifier_aid, const Uuid& id = kId,
                             std::int64_t timestamp = kNow, std::string_view nonce = kNonce) const {
        ProofContext context{prover.key->aid().as_str(), verifier_aid, id, nonce, timestamp};
        auto block =
            build_identity_proof(PinnedKeyPreparation{"agent-subject"}, context, *prover.key);
        EXPECT_TRUE(block);
        return *block;
    }
    std::string check(const IdentityDescriptor& block, const Aid& prover_aid,
                      std::string_view nonce = kNonce) const {
        return testing::outcome(
            verify_pinned_key_identity(block, prover_aid, verifier.key->aid(), kId, nonce, kNow));
    }
};

TEST_F(PinnedProof, BlockShapeAndRoundTrip) {
    IdentityDescriptor block = prove(verifier.key->aid().as_str());
    EXPECT_EQ(block.type, IdentityType::PinnedKey);
    EXPECT_FALSE(block.issuer);
    EXPECT_EQ(block.proof.size(), 86u);
    EXPECT_EQ(block.public_key, b64u_encode(*prover.key->ed25519_public_key()));
    EXPECT_EQ(check(block, prover.key->aid()), "ok");

    auto p256 = testing::p256_key(2);
    ProofContext context{p256->aid().as_str(), "v", kId, kNonce, kNow};
    auto refused = build_identity_proof(PinnedKeyPreparation{"s"}, context, *p256);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().text(),
              "identity verification failed: pinned_key identity requires an Ed25519 signing key "
              "(v0.1 wire format encodes a 32-byte raw public key); use OIDC identity for P-256 "
              "agents");
}

TEST_F(PinnedProof, Refusals) {
    const std::string prefix = "identity verification failed: ";
    const Aid prover_aid = prover.key->aid();
    const IdentityDescriptor good = prove(verifier.key->aid().as_str());
    auto with_key = [&](std::optional<std::string> key) {
        IdentityDescriptor block = good;
        block.public_key = std::move(key);
        return block;
    };
    auto with_proof = [&](std::string proof) {
        IdentityDescriptor block = good;
        block.proof = std::move(proof);
        return block;
    };
    const std::string other_key = b64u_encode(*verifier.key->ed25519_public_key());
    struct Case {
        IdentityDescriptor block;
        Aid prover;
        std::string nonce;
        std::string text;
    };
    const Case cases[] = {
        {good, testing::p256_key(3)->aid(), std::string(kNonce),
         prefix + "pinned_key requires an Ed25519 sender AID"},
        {with_key({}), prover_aid, std::string(kNonce), prefix + "pinned_key missing public_key"},
        {with_key(*good.public_key + "="), prover_aid, std::string(kNonce),
         prefix + "public_key malformed base64url"},
        {with_key("AAAA"), prover_aid, std::string(kNonce),
         prefix + "public_key must decode to 32 bytes"},
        {with_key(other_key), prover_aid, std::string(kNonce),
         prefix + "public_key does not match sender AID"},
        {good, prover_aid, "not*base64", prefix + "pop_nonce is not valid base64url"},
        {with_proof("not a signature"), prover_aid, std::string(kNonce),
         prefix + "proof malformed"},
        {with_proof("p256." + good.proof), prover_aid, std::string(kNonce),
         prefix + "pinned_key signature invalid"},
        {prove("aid:pubkey:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"), prover_aid,
         std::string(kNonce), prefix + "pinned_key signature invalid"},
        {prove(verifier.key->aid().as_str(), *Uuid::parse("00000000-0000-4000-8000-000000000000")),
         prover_aid, std::string(kNonce), prefix + "pinned_key signature invalid"},
        {prove(verifier.key->aid().as_str(), kId, kNow + 1), prover_aid, std::string(kNonce),
         prefix + "pinned_key signature invalid"},
        {good, prover_aid, "AAECAwQFBgcICQoLDA0OEA", prefix + "pinned_key signature invalid"},
    };
    for (const Case& c : cases) EXPECT_EQ(check(c.block, c.prover, c.nonce), c.text) << c.text;

    // A key that is no Ed25519 point: the AID carries the same bytes, so only the point check
    // can refuse it.
    std::array<std::uint8_t, 32> not_a_point{};
    not_a_point[0] = 2;
    const Aid odd = Aid::from_ed25519(not_a_point);
    EXPECT_EQ(check(with_key(b64u_encode(not_a_point)), odd), prefix + "public_key not Ed25519");
}

// The responder's view of a HELLO from `peer`.
struct PeerIdentity : ::testing::Test {
    testing::TestAgent peer = testing::make_agent(testing::ed25519_key(21));
    testing::TestAgent own = testing::make_agent(testing::ed25519_key(22));
    std::vector<std::string> anchors;
    NoJwksResolver no_keys;

    VeskEnvelope envelope_from(const SigningKey& key) const {
        return *VeskEnvelope::new_signed_with(key, MessageType::MutualHello,
                                              json::Value(json::Object{}), kId, kNow);
    }
    IdentityDescriptor block() const {
        ProofContext context{peer.key->aid().as_str(), own.key->aid().as_str(), kId, kNonce, kNow};
        return *build_identity_proof(PinnedKeyPreparation{"agent-subject"}, context, *peer.key);
    }
    std::expected<VerifyingKey, HandshakeError> verify(
        const VeskEnvelope& envelope, const manifest::Manifest& manifest,
        const IdentityDescriptor& identity, std::int64_t now = kNow,
        const PinnedKeyTrustStore* store = nullptr) const {
        SessionSettings settings{*own.key, own.manifest, anchors, no_keys, store, now};
        return verify_peer_identity(envelope, manifest, identity, kNonce, settings);
    }
};

TEST_F(PeerIdentity, ChecksInOrder) {
    const VeskEnvelope envelope = envelope_from(*peer.key);
    auto key = verify(envelope, peer.manifest, block());
    ASSERT_TRUE(key) << key.error().text();
    EXPECT_EQ(*key, peer.key->verifying_key());

    VeskEnvelope upper = envelope;
    upper.sender.agent_id = "AID" + upper.sender.agent_id.substr(3);
    IdentityDescriptor other_subject = block(), other_type = block(), both = block();
    other_subject.subject = "someone";
    other_type.type = IdentityType::Oidc;
    both.subject = "someone";
    both.type = IdentityType::Oidc;

    const std::string identity = "identity verification failed: ";
    struct Case {
        const char* name;
        VeskEnvelope envelope;
        IdentityDescriptor block;
        std::int64_t now;
        std::string text;
    };
    const Case cases[] = {
        {"sender differs in case only", upper, block(), kNow,
         "invalid envelope: manifest.aid does not match sender.agent_id"},
        {"expired manifest", envelope, block(), peer.manifest.expires_at + 1,
         "manifest verification failed: manifest has expired"},
        {"subject first", envelope, both, kNow,
         identity + "identity.subject != manifest.identity_hint.subject"},
        {"subject", envelope, other_subject, kNow,
         identity + "identity.subject != manifest.identity_hint.subject"},
        {"type", envelope, other_type, kNow,
         identity + "identity.type does not match manifest.identity_hint.type"},
    };
    for (const Case& c : cases) {
        auto result = verify(c.envelope, peer.manifest, c.block, c.now);
        ASSERT_FALSE(result) << c.name;
        EXPECT_EQ(result.error().text(), c.text) << c.name;
    }
}

TEST_F(PeerIdentity, OidcHintChecksAndTrustStore) {
    // An OIDC peer with a properly signed Manifest.
    auto oidc_peer = testing::make_agent(testing::ed25519_key(23), "https://i.example/");
    const VeskEnvelope envelope = envelope_from(*oidc_peer.key);
    const std::string identity = "identity verification failed: ";
    IdentityDescriptor b{IdentityType::Oidc, {}, "agent-subject", "t", {}, {}};
    EXPECT_EQ(verify(envelope, oidc_peer.manifest, b).error().text(),
              identity + "oidc missing issuer");
    b.issuer = "https://i.example";
    EXPECT_EQ(verify(envelope, oidc_peer.manifest, b).error().text(),
              identity + "issuer hint mismatch");
    b.issuer = "https://i.example/";
    EXPECT_EQ(verify(envelope, oidc_peer.manifest, b).error().text(), "incompatible trust anchors");
    anchors = {"https://i.example/"};
    EXPECT_EQ(verify(envelope, oidc_peer.manifest, b).error().text(),
              identity + "malformed JWT: expected 3 dot-separated segments, got 1");

    // The trust store is asked only after the proof verified.
    int asked = 0;
    PinnedKeyTrustStore refusing = [&](std::span<const std::uint8_t, 32>) {
        ++asked;
        return false;
    };
    PinnedKeyTrustStore accepting = [](std::span<const std::uint8_t, 32>) { return true; };
    const VeskEnvelope pinned = envelope_from(*peer.key);
    IdentityDescriptor bad = block();
    bad.proof = "x";
    EXPECT_EQ(verify(pinned, peer.manifest, bad, kNow, &refusing).error().text(),
              identity + "proof malformed");
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(verify(pinned, peer.manifest, block(), kNow, &refusing).error().text(),
              identity + "pinned_key not in local trust store");
    EXPECT_TRUE(verify(pinned, peer.manifest, block(), kNow, &accepting));
}

}  // namespace
}  // namespace vesk::handshake
