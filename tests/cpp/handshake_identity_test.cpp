#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "vesk/handshake/identity.h"

namespace vesk::handshake {
namespace {

using testing::outcome;

constexpr std::int64_t kNow = 1700000100;
const Uuid kId = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
constexpr std::string_view kNonce = "AAECAwQFBgcICQoLDA0ODw";
const std::string kFailed = "identity verification failed: ";

TEST(PinnedKeySigningInput, FieldsSeparatedByZeroBytes) {
    auto input = pinned_key_signing_input("P", "V", kId, -42, kNonce);
    ASSERT_TRUE(input);
    std::string expected = std::string("vesk-pinned-key-v1") + '\0' + "P" + '\0' + "V" + '\0' +
                           "0f8fad5b-d9cb-469f-a165-70867728950e" + '\0' + "-42" + '\0';
    for (int i = 0; i < 16; ++i) expected += static_cast<char>(i);
    EXPECT_EQ(std::string(input->begin(), input->end()), expected);
    auto zero = pinned_key_signing_input("P", "V", kId, 0, "");
    EXPECT_EQ(std::string(zero->end() - 3, zero->end()), std::string("\0"
                                                                     "0\0",
                                                                     3));
    EXPECT_EQ(outcome(pinned_key_signing_input("P", "V", kId, 0, "AA==")),
              kFailed + "pop_nonce is not valid base64url");
}

TEST(OwnIdentity, PreparationRules) {
    const std::optional<MintJwtFn> mint = [](std::string_view) { return std::string("jwt"); };
    const std::optional<std::string> issuer = "https://i.example";
    const std::tuple<OwnIdentity, std::optional<MintJwtFn>, std::string> cases[] = {
        {{IdentityType::PinnedKey, "s", {}}, mint, "ok"},
        {{IdentityType::Oidc, "s", issuer}, mint, "ok"},
        {{IdentityType::Oidc, "s", issuer},
         std::nullopt,
         "agent manifest is OIDC; `oidc_mint_jwt` callable is required"},
        {{IdentityType::Oidc, "s", {}},
         mint,
         "OIDC identity_hint missing issuer (build_manifest invariant violated)"},
        {{IdentityType::Oidc, "s", "not a url"},
         mint,
         "identity_hint.issuer not a URL: relative URL without a base"},
    };
    for (const auto& [identity, minter, text] : cases) {
        EXPECT_EQ(outcome(prepare_oidc_identity(identity, minter)), text);
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
    ProofContext context{"prover", "verifier", kId, kNonce, kNow};
    auto block = build_identity_proof(*prepared, context, *testing::p256_key(1));
    EXPECT_EQ(seen_nonce, kNonce);
    EXPECT_EQ(block, (IdentityDescriptor{
                         IdentityType::Oidc, "https://issuer.example/", "sub", "", {}, {}}));
}

// A pinned-key proof by `prover` for `verifier`, carried in an envelope with kId and kNow.
struct PinnedProof : ::testing::Test {
    SharedSigningKey prover = testing::ed25519_key(11);
    SharedSigningKey verifier = testing::ed25519_key(12);
    const IdentityDescriptor good = prove(verifier->aid().as_str());

    IdentityDescriptor prove(std::string_view verifier_aid, const Uuid& id = kId,
                             std::int64_t timestamp = kNow) const {
        ProofContext context{prover->aid().as_str(), verifier_aid, id, kNonce, timestamp};
        return *build_identity_proof(PinnedKeyPreparation{"agent-subject"}, context, *prover);
    }
    std::string check(const IdentityDescriptor& block, const Aid& prover_aid,
                      std::string_view nonce = kNonce) const {
        return outcome(
            verify_pinned_key_identity(block, prover_aid, verifier->aid(), kId, nonce, kNow));
    }
    IdentityDescriptor with_key(std::optional<std::string> key) const {
        IdentityDescriptor block = good;
        block.public_key = std::move(key);
        return block;
    }
    IdentityDescriptor with_proof(std::string proof) const {
        IdentityDescriptor block = good;
        block.proof = std::move(proof);
        return block;
    }
};

TEST_F(PinnedProof, BlockShapeAndRoundTrip) {
    EXPECT_EQ(good.type, IdentityType::PinnedKey);
    EXPECT_FALSE(good.issuer);
    EXPECT_EQ(good.public_key, b64u_encode(*prover->ed25519_public_key()));
    EXPECT_EQ(check(good, prover->aid()), "ok");

    auto p256 = testing::p256_key(2);
    ProofContext context{p256->aid().as_str(), "v", kId, kNonce, kNow};
    EXPECT_EQ(outcome(build_identity_proof(PinnedKeyPreparation{"s"}, context, *p256)),
              kFailed +
                  "pinned_key identity requires an Ed25519 signing key (v0.1 wire format encodes "
                  "a 32-byte raw public key); use OIDC identity for P-256 agents");
}

TEST_F(PinnedProof, Refusals) {
    const Aid me = prover->aid();
    const std::string bad_signature = kFailed + "pinned_key signature invalid";
    struct Case {
        IdentityDescriptor block;
        Aid prover;
        std::string text;
        std::string_view nonce = kNonce;
    };
    const Case cases[] = {
        {good, testing::p256_key(3)->aid(), kFailed + "pinned_key requires an Ed25519 sender AID"},
        {with_key({}), me, kFailed + "pinned_key missing public_key"},
        {with_key(*good.public_key + "="), me, kFailed + "public_key malformed base64url"},
        {with_key("AAAA"), me, kFailed + "public_key must decode to 32 bytes"},
        {with_key(b64u_encode(*verifier->ed25519_public_key())), me,
         kFailed + "public_key does not match sender AID"},
        {good, me, kFailed + "pop_nonce is not valid base64url", "not*base64"},
        {with_proof("not a signature"), me, kFailed + "proof malformed"},
        {with_proof("p256." + good.proof), me, bad_signature},
        {prove("aid:pubkey:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"), me, bad_signature},
        {prove(verifier->aid().as_str(), *Uuid::parse("00000000-0000-4000-8000-000000000000")), me,
         bad_signature},
        {prove(verifier->aid().as_str(), kId, kNow + 1), me, bad_signature},
        {good, me, bad_signature, "AAECAwQFBgcICQoLDA0OEA"},
    };
    for (const Case& c : cases) EXPECT_EQ(check(c.block, c.prover, c.nonce), c.text) << c.text;

    // A key that is no Ed25519 point: the AID carries the same bytes, so only the point check
    // can refuse it.
    std::array<std::uint8_t, 32> not_a_point{};
    not_a_point[0] = 2;
    EXPECT_EQ(check(with_key(b64u_encode(not_a_point)), Aid::from_ed25519(not_a_point)),
              kFailed + "public_key not Ed25519");
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
    IdentityDescriptor other_type = block(), both = block();
    both.subject = "someone";
    other_type.type = both.type = IdentityType::Oidc;
    const std::string subject = kFailed + "identity.subject != manifest.identity_hint.subject";
    struct Case {
        VeskEnvelope envelope;
        IdentityDescriptor block;
        std::int64_t now;
        std::string text;
    };
    const Case cases[] = {
        {upper, block(), kNow, "invalid envelope: manifest.aid does not match sender.agent_id"},
        {envelope, block(), peer.manifest.expires_at + 1,
         "manifest verification failed: manifest has expired"},
        {envelope, both, kNow, subject},
        {envelope, other_type, kNow,
         kFailed + "identity.type does not match manifest.identity_hint.type"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outcome(verify(c.envelope, peer.manifest, c.block, c.now)), c.text);
    }
}

TEST_F(PeerIdentity, OidcHintChecksAndTrustStore) {
    // An OIDC peer with a properly signed Manifest.
    auto oidc_peer = testing::make_agent(testing::ed25519_key(23), "https://i.example/");
    const VeskEnvelope envelope = envelope_from(*oidc_peer.key);
    IdentityDescriptor b{IdentityType::Oidc, {}, "agent-subject", "t", {}, {}};
    const auto check = [&] { return outcome(verify(envelope, oidc_peer.manifest, b)); };
    EXPECT_EQ(check(), kFailed + "oidc missing issuer");
    b.issuer = "https://i.example";
    EXPECT_EQ(check(), kFailed + "issuer hint mismatch");
    b.issuer = "https://i.example/";
    EXPECT_EQ(check(), "incompatible trust anchors");
    anchors = {"https://i.example/"};
    EXPECT_EQ(check(), kFailed + "malformed JWT: expected 3 dot-separated segments, got 1");

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
    EXPECT_EQ(outcome(verify(pinned, peer.manifest, bad, kNow, &refusing)),
              kFailed + "proof malformed");
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(outcome(verify(pinned, peer.manifest, block(), kNow, &refusing)),
              kFailed + "pinned_key not in local trust store");
    EXPECT_TRUE(verify(pinned, peer.manifest, block(), kNow, &accepting));
}

}  // namespace
}  // namespace vesk::handshake
