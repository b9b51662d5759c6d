#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <string>

#include "tct_support.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"
#include "vesk/manifest/builder.h"
#include "vesk/manifest/verifier.h"

namespace vesk::manifest {
namespace {

using namespace vesk::testing;
using Kind = ManifestError::Kind;

ManifestRequest pinned_request() {
    ManifestRequest request;
    request.display_name = "Agent";
    request.handshake_endpoint = "https://agent.example/hs";
    request.offered_caps = {"read", "write"};
    return request;
}

ManifestRequest oidc_request() {
    ManifestRequest request = pinned_request();
    request.identity_type = "oidc";
    request.oidc_issuer = "https://issuer.example";
    request.oidc_subject = "agent-7";
    return request;
}

Manifest built(const SigningKey& key, const ManifestRequest& request) {
    auto manifest = build_agent_manifest(key, request);
    if (!manifest) ADD_FAILURE() << manifest.error().text();
    return *manifest;
}

void resign(Manifest& manifest, const SigningKey& key) {
    manifest.signature = sign_digest_to_text(key, sha256(*canonical_bytes(manifest)));
}

ManifestError failure(const Manifest& manifest, std::int64_t now = 0) {
    auto result = verify_manifest(manifest, now);
    if (result) {
        ADD_FAILURE() << "verified";
        return ManifestError::of(Kind::Malformed);
    }
    return result.error();
}

// ---- building ------------------------------------------------------------------------------

TEST(ManifestBuild, BothSuitesVerifyAndSurviveTheWireForm) {
    for (const auto& [key, request] :
         {std::pair{ed25519_key(1), pinned_request()}, std::pair{p256_key(7), oidc_request()}}) {
        Manifest manifest = built(*key, request);
        EXPECT_TRUE(verify_manifest(manifest, manifest.published_at));
        EXPECT_EQ(manifest.aid, key->aid());

        std::string text = json::to_json(ManifestEnvelope{manifest});
        auto back = json::from_json<ManifestEnvelope>(text);
        ASSERT_TRUE(back) << back.error().text();
        EXPECT_EQ(back->manifest, manifest);
        auto from_value = json::from_value<Manifest>(json::to_value(manifest));
        ASSERT_TRUE(from_value) << from_value.error().text();
        EXPECT_EQ(*from_value, manifest);
    }
}

TEST(ManifestBuild, LifetimeSaturatesAtTheEndsOfTime) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    auto key = ed25519_key(1);
    ManifestBuilder builder(*key);
    builder.handshake_endpoint = "x";
    builder.identity_hint = IdentityHint{IdentityType::PinnedKey, "s", std::nullopt, "k"};
    builder.issued_at = 10;
    builder.lifetime_secs = kMax;
    EXPECT_EQ(build_signed_manifest(builder)->expires_at, kMax);
    builder.issued_at = -10;
    builder.lifetime_secs = kMin;
    EXPECT_EQ(build_signed_manifest(builder)->expires_at, kMin);
    builder.issued_at = 100;
    builder.lifetime_secs = -10;
    EXPECT_EQ(build_signed_manifest(builder)->expires_at, 90);
}

TEST(ManifestBuild, BuilderRefusesIncompleteSettings) {
    auto key = ed25519_key(1);
    const IdentityHint pinned{IdentityType::PinnedKey, "s", "issuer is allowed", "k"};
    struct Case {
        std::optional<std::string> endpoint;
        std::optional<IdentityHint> hint;
        std::optional<ManifestError> error;
    } cases[] = {
        {std::nullopt, pinned, ManifestError::of(Kind::MissingField, "handshake_endpoint")},
        {"x", std::nullopt, ManifestError::of(Kind::MissingField, "identity_hint")},
        {"x", IdentityHint{IdentityType::PinnedKey, "s", std::nullopt, std::nullopt},
         ManifestError::of(Kind::IdentityHintMalformed, "pinned_key requires `public_key`")},
        {"x", IdentityHint{IdentityType::Oidc, "s", std::nullopt, std::nullopt},
         ManifestError::of(Kind::IdentityHintMalformed, "oidc requires `issuer`")},
        {"x", IdentityHint{IdentityType::Oidc, "s", "i", "k"},
         ManifestError::of(Kind::IdentityHintMalformed, "oidc must not include `public_key`")},
        {"x", pinned, std::nullopt},
    };
    for (const Case& c : cases) {
        ManifestBuilder builder(*key);
        builder.handshake_endpoint = c.endpoint;
        builder.identity_hint = c.hint;
        auto manifest = build_signed_manifest(builder);
        if (c.error) {
            ASSERT_FALSE(manifest);
            EXPECT_EQ(manifest.error(), *c.error) << manifest.error().text();
        } else {
            EXPECT_TRUE(manifest);
        }
    }
}

// ---- verification --------------------------------------------------------------------------

TEST(ManifestVerify, ExpiryBoundaryAndCheckOrder) {
    auto key = ed25519_key(1);
    Manifest manifest = built(*key, pinned_request());
    EXPECT_TRUE(verify_manifest(manifest, manifest.published_at - 1000));
    EXPECT_TRUE(verify_manifest(manifest, manifest.expires_at));
    EXPECT_EQ(failure(manifest, manifest.expires_at + 1).kind, Kind::Expired);

    manifest.signature = "broken";
    EXPECT_EQ(failure(manifest, manifest.expires_at + 1).kind, Kind::Expired);
    manifest.version = "vesk/0.2 ";
    EXPECT_EQ(failure(manifest, manifest.expires_at + 1).kind, Kind::VersionUnknown);
}

TEST(ManifestVerify, EveryCoveredMemberIsSigned) {
    auto key = p256_key(7);
    const Manifest original = built(*key, oidc_request());
    void (*changes[])(Manifest&) = {
        [](Manifest& m) { m.display_name = "Agent!"; },
        [](Manifest& m) { m.display_name.reset(); },
        [](Manifest& m) { m.accepted_signature_algorithms = std::vector<std::string>{}; },
        [](Manifest& m) { m.extensions = json::Extensions{}; },
        [](Manifest& m) { m.identity_hint.subject += "x"; },
        [](Manifest& m) { m.handshake_endpoint += "x"; },
        [](Manifest& m) { m.accepted_trust_anchors.clear(); },
        [](Manifest& m) { m.offered_capabilities.pop_back(); },
        [](Manifest& m) { m.proof_of_possession.challenge[0] ^= 1; },
        [](Manifest& m) { m.published_at += 1; },
        [](Manifest& m) { m.expires_at += 1; },
        [](Manifest& m) { m.aid = *Aid::parse(std::string("aid:pubkey:") + std::string(43, 'A')); },
    };
    for (auto change : changes) {
        Manifest manifest = original;
        change(manifest);
        EXPECT_EQ(failure(manifest).kind, Kind::SignatureInvalid);
    }
}

TEST(ManifestVerify, ProofOfPossessionRules) {
    auto key = ed25519_key(1);
    auto stranger = ed25519_key(9);
    const Manifest original = built(*key, pinned_request());
    struct Case {
        std::string challenge;
        const SigningKey* signer;
        std::string signed_bytes;
        bool holds;
    } cases[] = {
        {original.proof_of_possession.challenge, stranger.get(), "", false},
        {"QQ==", key.get(), "A", false},
        {"QR", key.get(), "A", false},
        {"", key.get(), "", true},
        {"QQ", key.get(), "A", true},
    };
    for (const Case& c : cases) {
        Manifest manifest = original;
        std::string bytes = c.signed_bytes;
        if (c.signer == stranger.get()) {
            Bytes decoded = *b64u_decode(c.challenge);
            bytes.assign(decoded.begin(), decoded.end());
        }
        manifest.proof_of_possession = {c.challenge, sign_digest_to_text(*c.signer, sha256(bytes))};
        resign(manifest, *key);
        if (c.holds) {
            EXPECT_TRUE(verify_manifest(manifest, 0)) << c.challenge;
        } else {
            EXPECT_EQ(failure(manifest).kind, Kind::PopFailed) << c.challenge;
        }
    }
}

TEST(ManifestError, TextsAndCodes) {
    const std::string texts[] = {
        "manifest has expired",
        "manifest signature is invalid",
        "manifest proof-of-possession failed",
        "manifest aid does not match signing key",
        "manifest does not accept identity type `d`",
        "manifest version is not supported",
        "identity_hint malformed: d",
        "missing required field: d",
        "canonicalization failed: d",
        "public key parsing failed: d",
        "rng failure: d",
        "unknown field `d`",
        "malformed manifest: d",
    };
    const std::string codes[] = {"expired",
                                 "signature_invalid",
                                 "pop_failed",
                                 "aid_mismatch",
                                 "incompatible_identity_type",
                                 "version_unknown",
                                 "identity_hint_malformed"};
    for (int i = 0; i <= static_cast<int>(Kind::Malformed); ++i) {
        ManifestError error = static_cast<Kind>(i) == Kind::Crypto
                                  ? ManifestError::from_crypto(CryptoError::public_key_parse("d"))
                                  : ManifestError::of(static_cast<Kind>(i), "d");
        EXPECT_EQ(error.text(), texts[i]);
        EXPECT_EQ(error.code(), i < 7 ? codes[i] : "malformed") << texts[i];
    }
}

// ---- wire form -----------------------------------------------------------------------------

const std::string kAid = "aid:pubkey:" + std::string(43, 'A');

// A Manifest's members as JSON text, `extra` spliced in before the signature.
std::string manifest_text(const std::string& extra = "", const std::string& aid = kAid) {
    return R"({"version":"vesk/0.2","aid":")" + aid +
           R"(","identity_hint":{"type":"pinned_key","subject":"s","public_key":"k"},)"
           R"("handshake_endpoint":"e","accepted_trust_anchors":[],"offered_capabilities":["c"],)"
           R"("proof_of_possession":{"challenge":"ch","signature":"ps"},"published_at":1,)"
           R"("expires_at":2,)" +
           extra + R"("signature":"sig"})";
}

std::string envelope(const std::string& manifest) {
    return R"({"manifest":)" + manifest + "}";
}

TEST(ManifestWire, ReadingFailuresFromText) {
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"[]",
         "invalid length 0, expected struct ManifestEnvelope with 1 element at line 1 "
         "column 2"},
        {envelope(manifest_text(R"("Version":"x",)")),
         "unknown field `Version`, expected one of `version`, `aid`, `display_name`, "
         "`identity_hint`, `handshake_endpoint`, `accepted_trust_anchors`, "
         "`accepted_identity_types`, `accepted_signature_algorithms`, `offered_capabilities`, "
         "`required_peer_capabilities`, `proof_of_possession`, `published_at`, `expires_at`, "
         "`extensions`, `signature` at line 1 column "},
        {envelope(R"({"identity_hint":{"type":"PINNED_KEY"}})"),
         "unknown variant `PINNED_KEY`, expected `oidc` or `pinned_key`"},
        {envelope(R"(["v",")" + kAid + R"("])"),
         "invalid length 3, expected struct Manifest with 15 elements"},
    };
    for (const Case& c : cases) {
        auto read = json::from_json<ManifestEnvelope>(c.text);
        ASSERT_FALSE(read) << c.text;
        EXPECT_TRUE(read.error().text().starts_with(c.error))
            << c.text << "\n  gave: " << read.error().text();
    }
}

TEST(ManifestWire, OptionalMembersNullsAndExtensions) {
    auto read = json::from_json<ManifestEnvelope>(envelope(manifest_text(
        R"("display_name":null,"accepted_identity_types":null,"accepted_signature_algorithms":)"
        R"(null,"required_peer_capabilities":null,"extensions":null,)")));
    ASSERT_TRUE(read) << read.error().text();
    EXPECT_EQ(json::to_json(*read), envelope(manifest_text()));

    read = json::from_json<ManifestEnvelope>(
        envelope(manifest_text(R"("extensions":{"b":{"z":1,"y":2},"a":1,"b":[true]},)")));
    ASSERT_TRUE(read) << read.error().text();
    EXPECT_EQ(json::to_json(*read), envelope(manifest_text(R"("extensions":{"a":1,"b":[true]},)")));

    read = json::from_json<ManifestEnvelope>(envelope(manifest_text(R"("extensions":{},)")));
    ASSERT_TRUE(read);
    EXPECT_EQ(json::to_json(*read), envelope(manifest_text(R"("extensions":{},)")));
}

TEST(ManifestWire, CanonicalBytesSortMembersAndWriteNumbersAsDoubles) {
    // U+FF61 is one UTF-16 unit, above the leading unit of U+1F600: it sorts last.
    auto read = json::from_json<ManifestEnvelope>(
        envelope(manifest_text(R"("display_name":"D","extensions":{"z":{"b":1,"a":[]},)"
                               "\"\xEF\xBD\xA1\":1,\"\xF0\x9F\x98\x80\":2},")));
    ASSERT_TRUE(read) << read.error().text();
    read->manifest.expires_at = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(*canonical_bytes(read->manifest),
              R"({"accepted_trust_anchors":[],"aid":")" + kAid +
                  R"(","display_name":"D","expires_at":9223372036854776000,)"
                  R"("extensions":{"z":{"a":[],"b":1},)"
                  "\"\xF0\x9F\x98\x80\":2,\"\xEF\xBD\xA1\":1},"
                  R"("handshake_endpoint":"e",)"
                  R"("identity_hint":{"public_key":"k","subject":"s","type":"pinned_key"},)"
                  R"("offered_capabilities":["c"],)"
                  R"("proof_of_possession":{"challenge":"ch","signature":"ps"},)"
                  R"("published_at":1,"version":"vesk/0.2"})");
}

}  // namespace
}  // namespace vesk::manifest
