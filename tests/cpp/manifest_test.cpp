#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "fixtures.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"
#include "vesk/manifest/builder.h"
#include "vesk/manifest/verifier.h"

namespace vesk::manifest {
namespace {

using namespace vesk::testing;

// The kind a verification refuses with, or "verified".
std::string refusal(const Manifest& manifest, std::int64_t now = 0) {
    auto result = verify_manifest(manifest, now);
    return result ? "verified" : std::string(result.error().code()) + ": " + result.error().text();
}

const std::string kExpired = "expired: manifest has expired";
const std::string kBadSignature = "signature_invalid: manifest signature is invalid";
const std::string kBadPop = "pop_failed: manifest proof-of-possession failed";

TEST(ManifestBuild, LifetimeSaturatesAtTheEndsOfTime) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    auto key = ed25519_key(1);
    ManifestBuilder builder(*key);
    builder.handshake_endpoint = "x";
    builder.identity_hint = IdentityHint{IdentityType::PinnedKey, "s", std::nullopt, "k"};
    const std::int64_t cases[][3] = {{10, kMax, kMax}, {-10, kMin, kMin}, {100, -10, 90}};
    for (const auto& [issued_at, lifetime, expires_at] : cases) {
        builder.issued_at = issued_at;
        builder.lifetime_secs = lifetime;
        EXPECT_EQ(build_signed_manifest(builder)->expires_at, expires_at) << lifetime;
    }
}

TEST(ManifestBuild, BuilderRefusesIncompleteSettings) {
    auto key = ed25519_key(1);
    const IdentityHint pinned{IdentityType::PinnedKey, "s", "issuer is allowed", "k"};
    struct Case {
        std::optional<std::string> endpoint;
        std::optional<IdentityHint> hint;
        std::string text;
    } cases[] = {
        {std::nullopt, pinned, "missing required field: handshake_endpoint"},
        {"x", std::nullopt, "missing required field: identity_hint"},
        {"x", IdentityHint{IdentityType::PinnedKey, "s", std::nullopt, std::nullopt},
         "identity_hint malformed: pinned_key requires `public_key`"},
        {"x", IdentityHint{IdentityType::Oidc, "s", std::nullopt, std::nullopt},
         "identity_hint malformed: oidc requires `issuer`"},
        {"x", IdentityHint{IdentityType::Oidc, "s", "i", "k"},
         "identity_hint malformed: oidc must not include `public_key`"},
        {"x", pinned, "ok"},
    };
    for (const Case& c : cases) {
        ManifestBuilder builder(*key);
        builder.handshake_endpoint = c.endpoint;
        builder.identity_hint = c.hint;
        EXPECT_EQ(outcome(build_signed_manifest(builder)), c.text);
    }
}

TEST(ManifestVerify, ExpiryBoundaryAndCheckOrder) {
    Manifest manifest = make_agent(p256_key(7), "https://issuer.example/").manifest;
    EXPECT_EQ(refusal(manifest, manifest.published_at - 1000), "verified");
    EXPECT_EQ(refusal(manifest, manifest.expires_at), "verified");
    EXPECT_EQ(refusal(manifest, manifest.expires_at + 1), kExpired);
    manifest.signature = "broken";
    EXPECT_EQ(refusal(manifest, manifest.expires_at + 1), kExpired);
    manifest.version = "vesk/0.2 ";
    EXPECT_EQ(refusal(manifest, manifest.expires_at + 1),
              "version_unknown: manifest version is not supported");
}

// After the version and the time: the AID's key, the signature, the proof, the identity hint.
TEST(ManifestVerify, KeySignatureProofAndHintInOrder) {
    auto key = ed25519_key(1);
    Manifest manifest = make_agent(key).manifest;
    std::array<std::uint8_t, 32> not_a_point{};
    not_a_point[0] = 2;
    Manifest no_key = manifest;
    no_key.aid = Aid::from_ed25519(not_a_point);
    EXPECT_EQ(refusal(no_key),
              "malformed: AID does not yield a valid Ed25519 public key: signature error");
    manifest.identity_hint.issuer = "https://issuer.example/";
    manifest.identity_hint.type = IdentityType::Oidc;
    EXPECT_EQ(refusal(manifest), kBadSignature);
    manifest.signature = sign_digest_to_text(*key, sha256(*canonical_bytes(manifest)));
    EXPECT_EQ(refusal(manifest),
              "identity_hint_malformed: identity_hint malformed: oidc must not include "
              "`public_key`");
    manifest.proof_of_possession.challenge = "QR";
    manifest.signature = sign_digest_to_text(*key, sha256(*canonical_bytes(manifest)));
    EXPECT_EQ(refusal(manifest), kBadPop);
}

TEST(ManifestVerify, ProofOfPossessionRules) {
    auto key = ed25519_key(1);
    auto stranger = ed25519_key(9);
    const Manifest original = make_agent(key).manifest;
    const Bytes challenge = *b64u_decode(original.proof_of_possession.challenge);
    struct Case {
        std::string challenge;
        const SigningKey* signer;
        std::string signed_bytes;
        std::string result;
    } cases[] = {
        {original.proof_of_possession.challenge, stranger.get(),
         std::string(challenge.begin(), challenge.end()), kBadPop},
        {"QQ==", key.get(), "A", kBadPop},
        {"QR", key.get(), "A", kBadPop},
        {"", key.get(), "", "verified"},
        {"QQ", key.get(), "A", "verified"},
    };
    for (const Case& c : cases) {
        Manifest manifest = original;
        manifest.proof_of_possession = {c.challenge,
                                        sign_digest_to_text(*c.signer, sha256(c.signed_bytes))};
        manifest.signature = sign_digest_to_text(*key, sha256(*canonical_bytes(manifest)));
        EXPECT_EQ(refusal(manifest), c.result) << c.challenge;
    }
}

const std::string kAid = "aid:pubkey:" + std::string(43, 'A');

// A Manifest's members as JSON text, `extra` spliced in before the signature.
std::string manifest_text(const std::string& extra) {
    return R"({"version":"vesk/0.2","aid":")" + kAid +
           R"(","identity_hint":{"type":"pinned_key","subject":"s","public_key":"k"},)"
           R"("handshake_endpoint":"e","accepted_trust_anchors":[],"offered_capabilities":["c"],)"
           R"("proof_of_possession":{"challenge":"ch","signature":"ps"},"published_at":1,)"
           R"("expires_at":2,)" +
           extra + R"("signature":"sig"})";
}

TEST(ManifestWire, UnknownMembersAndIdentityTypesAreNamed) {
    const std::pair<std::string, std::string> cases[] = {
        {manifest_text(R"("Version":"x",)"),
         "unknown field `Version`, expected one of `version`, `aid`, `display_name`, "
         "`identity_hint`, `handshake_endpoint`, `accepted_trust_anchors`, "
         "`accepted_identity_types`, `accepted_signature_algorithms`, `offered_capabilities`, "
         "`required_peer_capabilities`, `proof_of_possession`, `published_at`, `expires_at`, "
         "`extensions`, `signature` at line 1 column "},
        {R"({"identity_hint":{"type":"PINNED_KEY"}})",
         "unknown variant `PINNED_KEY`, expected `oidc` or `pinned_key`"},
    };
    for (const auto& [text, error] : cases) {
        auto read = json::from_json<ManifestEnvelope>(R"({"manifest":)" + text + "}");
        ASSERT_FALSE(read) << text;
        EXPECT_TRUE(read.error().text().starts_with(error)) << read.error().text();
    }
}

// What the signature covers: every member but the signature.
TEST(ManifestWire, CanonicalBytesSortMembersAndWriteNumbersAsDoubles) {
    // U+FF61 is one UTF-16 unit, above the leading unit of U+1F600: it sorts last.
    auto read = json::from_json<Manifest>(manifest_text(
        R"("display_name":"D","accepted_identity_types":["t"],"accepted_signature_algorithms":[],)"
        R"("required_peer_capabilities":["r"],"extensions":{"z":{"b":1,"a":[]},)"
        "\"\xEF\xBD\xA1\":1,\"\xF0\x9F\x98\x80\":2},"));
    ASSERT_TRUE(read) << read.error().text();
    read->expires_at = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(*canonical_bytes(*read),
              R"({"accepted_identity_types":["t"],"accepted_signature_algorithms":[],)"
              R"("accepted_trust_anchors":[],"aid":")" +
                  kAid +
                  R"(","display_name":"D","expires_at":9223372036854776000,)"
                  R"("extensions":{"z":{"a":[],"b":1},)"
                  "\"\xF0\x9F\x98\x80\":2,\"\xEF\xBD\xA1\":1},"
                  R"("handshake_endpoint":"e",)"
                  R"("identity_hint":{"public_key":"k","subject":"s","type":"pinned_key"},)"
                  R"("offered_capabilities":["c"],)"
                  R"("proof_of_possession":{"challenge":"ch","signature":"ps"},)"
                  R"("published_at":1,"required_peer_capabilities":["r"],"version":"vesk/0.2"})");
}

}  // namespace
}  // namespace vesk::manifest
