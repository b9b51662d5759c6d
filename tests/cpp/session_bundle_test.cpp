#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tct_support.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"
#include "vesk/session_bundle/builder.h"
#include "vesk/session_bundle/verify.h"
#include "vesk/tokens/mint.h"

namespace vesk::session_bundle {
namespace {

using namespace vesk::testing;

constexpr std::string_view kSession = "7d444840-9dc0-11d1-b245-5ffdce74fad2";

std::string mint(const SigningKey& issuer, const SigningKey& holder, std::int64_t iat,
                 std::int64_t exp, std::uint8_t jti_tail = 0) {
    TctMintRequest r(issuer);
    r.subject = holder.aid();
    r.audience = holder.aid();
    r.subject_pubkey = holder.verifying_key();
    r.grants = {"read"};
    r.issued_at = iat;
    r.ttl_secs = exp - iat;
    Uuid jti = *Uuid::parse(kJti);
    jti.bytes[15] = jti_tail;
    r.jti = jti;
    return mint_tct(std::move(r))->token;
}

// A compact token whose payload is exactly `payload`, signed by `key`.
std::string raw_token(const SigningKey& key, std::string_view payload) {
    return sign_token(key, "vesk-tct+jwt", payload);
}

std::string error_of(const std::expected<SessionTrustBundle, BundleError>& built) {
    return built ? "ok" : built.error().text();
}
std::string error_of(const std::expected<BundleVerdict, BundleError>& verdict) {
    return verdict ? "ok" : verdict.error().text();
}
std::string error_of(const std::expected<TctClaims, BundleError>& claims) {
    return claims ? "ok" : claims.error().text();
}

RawClaims without(RawClaims claims, std::string_view name) {
    std::erase_if(claims.members, [&](const auto& m) { return m.first == name; });
    return claims;
}

// Answers from a set of revoked identifiers and records every question.
struct RecordingCheck final : JtiRevocationCheck {
    std::set<std::string> revoked;
    mutable std::vector<std::string> asked;
    bool is_revoked(const Uuid& jti) const override {
        asked.push_back(jti.to_string());
        return revoked.contains(jti.to_string());
    }
};

std::string jti_text(std::uint8_t tail) {
    Uuid jti = *Uuid::parse(kJti);
    jti.bytes[15] = tail;
    return jti.to_string();
}

struct SessionBundles : ::testing::TestWithParam<bool> {
    SharedSigningKey coordinator = GetParam() ? p256_key(1) : ed25519_key(1);
    SharedSigningKey alice = ed25519_key(2);
    SharedSigningKey bob = p256_key(3);
    SharedSigningKey carol = ed25519_key(4);

    std::vector<ParticipantEntry> members(std::int64_t exp = 500) const {
        return {{alice->aid(), mint(*coordinator, *alice, 100, exp, 1)},
                {bob->aid(), mint(*coordinator, *bob, 100, exp + 10, 2)},
                {carol->aid(), mint(*coordinator, *carol, 100, exp + 20, 3)}};
    }
    SessionTrustBundle built(std::vector<ParticipantEntry> participants) const {
        auto bundle = build(*coordinator, participants, *Uuid::parse(kSession), 100);
        EXPECT_TRUE(bundle) << error_of(bundle);
        return *bundle;
    }
    std::expected<BundleVerdict, BundleError> check(
        const SessionTrustBundle& bundle, const Aid& verifier, std::int64_t now = 300,
        const JtiRevocationCheck* revocation = nullptr) const {
        return verify(bundle, {verifier, now, revocation});
    }
};

TEST_P(SessionBundles, BuiltBundlesVerifyThroughTheirWrittenForm) {
    const SessionTrustBundle bundle = built(members());
    EXPECT_EQ(bundle.expires_at, 500);
    EXPECT_EQ(bundle.signature.starts_with("p256."), GetParam());
    const std::string text = json::to_json(SessionBundleEnvelope{bundle});
    EXPECT_EQ(text.find("extensions"), std::string::npos);
    auto reread = json::from_json<SessionBundleEnvelope>(text);
    ASSERT_TRUE(reread);
    auto verdict = check(reread->session_bundle, bob->aid(), 500);
    ASSERT_TRUE(verdict) << error_of(verdict);
    EXPECT_EQ(verdict->kind, BundleVerdict::Kind::Clear);
    EXPECT_EQ(verdict->active_aids,
              (std::vector<std::string>{alice->aid().as_str(), bob->aid().as_str(),
                                        carol->aid().as_str()}));
    EXPECT_TRUE(verdict->dropped_aids.empty());
    // Both schemes are deterministic: the same settings give the same text.
    EXPECT_EQ(json::to_json(SessionBundleEnvelope{built(members())}), text);
}

TEST_P(SessionBundles, VerificationChecksInOrder) {
    const SessionTrustBundle good = built(members());
    auto changed = [&](auto edit) {
        SessionTrustBundle b = good;
        edit(b);
        return b;
    };
    const SharedSigningKey stranger = ed25519_key(9);
    const std::string long_alice =
        "aid:pubkey:ed25519:" + alice->aid().as_str().substr(std::string("aid:pubkey:").size());
    struct Case {
        const char* name;
        SessionTrustBundle bundle;
        const Aid& verifier;
        std::int64_t now;
        std::string error;
    };
    const Case cases[] = {
        {"version before expiry", changed([](auto& b) { b.version = "vesk/0.2 "; }), alice->aid(),
         9999, "bundle version mismatch"},
        {"a second late", good, alice->aid(), 501, "bundle has expired"},
        {"empty after expiry", changed([](auto& b) { b.participants.clear(); }), alice->aid(), 501,
         "bundle has expired"},
        {"empty", changed([](auto& b) { b.participants.clear(); }), alice->aid(), 300,
         "participants array is empty"},
        {"expires_at below the earliest exp, before the signature", changed([](auto& b) {
             b.expires_at -= 1;
             b.signature = "x";
         }),
         alice->aid(), 300, "bundle expires_at does not equal min(participant TCT expiries)"},
        {"an undecodable TCT", changed([](auto& b) { b.participants[2].tct = "a.b"; }),
         alice->aid(), 300,
         "canonicalization failed: participant tct: compact JWS malformed: expected exactly "
         "three non-empty segments"},
        {"verifier not listed", good, stranger->aid(), 300,
         "verifier is not a member of this bundle"},
        {"coordinator not listed", good, coordinator->aid(), 300,
         "verifier is not a member of this bundle"},
        {"signed by another key", changed([&](auto& b) {
             b.signature =
                 sign_digest_to_text(*stranger, sha256(*signing_bytes(BundleSigningView::of(b))));
         }),
         alice->aid(), 300, "bundle signature is invalid"},
        {"signature not a signature text", changed([](auto& b) { b.signature = "p256.x"; }),
         alice->aid(), 300, "bundle signature is invalid"},
        {"participants reordered",
         changed([](auto& b) { std::swap(b.participants[0], b.participants[1]); }), alice->aid(),
         300, "bundle signature is invalid"},
        {"session id changed", changed([](auto& b) { b.session_id.bytes[0] ^= 1; }), alice->aid(),
         300, "bundle signature is invalid"},
        {"extensions added", changed([](auto& b) { b.extensions.emplace(); }), alice->aid(), 300,
         "bundle signature is invalid"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of(check(c.bundle, c.verifier, c.now)), c.error) << c.name;
    EXPECT_EQ(error_of(check(good, *Aid::parse(long_alice))),
              "verifier is not a member of this bundle");
    EXPECT_EQ(error_of(check(good, alice->aid(), 500)), "ok") << "expires_at equal to now passes";
}

TEST_P(SessionBundles, ParticipantTokensAreVerifiedAgainstCoordinatorAndMember) {
    const SharedSigningKey stranger = ed25519_key(9);
    auto with_second = [&](std::string tct) {
        auto participants = members();
        participants[1].tct = std::move(tct);
        return participants;
    };
    // The builder only compares iss and aud as text, so these bundles are built by hand.
    auto signed_bundle = [&](std::vector<ParticipantEntry> participants) {
        SessionTrustBundle b{"vesk/0.2", *Uuid::parse(kSession),  coordinator->aid(), 100,
                             500,        std::move(participants), std::nullopt,       ""};
        b.signature =
            sign_digest_to_text(*coordinator, sha256(*signing_bytes(BundleSigningView::of(b))));
        return b;
    };
    RecordingCheck revocation;
    EXPECT_EQ(error_of(check(signed_bundle(with_second(mint(*coordinator, *alice, 100, 510))),
                             alice->aid(), 300, &revocation)),
              "participant TCT audience does not match entry AID");
    EXPECT_EQ(revocation.asked, std::vector<std::string>{jti_text(1)})
        << "asked for the first participant only";
    // A TCT signed by another agent fails with the token error of its signature check.
    const std::string foreign = mint(*stranger, *bob, 100, 510);
    const Aid bob_aid = bob->aid(), coordinator_aid = coordinator->aid();
    auto token_error = verify_tct_token(foreign, {std::nullopt, bob_aid, coordinator_aid, 300});
    ASSERT_FALSE(token_error);
    EXPECT_EQ(error_of(check(signed_bundle(with_second(foreign)), alice->aid())),
              "participant TCT verification failed: " + token_error.error().text());
    EXPECT_EQ(error_of(check(signed_bundle(with_second(mint(*coordinator, *bob, 301, 510))),
                             alice->aid())),
              "participant TCT verification failed: TCT has expired or is not yet valid");
    // A TCT naming a stranger as issuer but signed by the coordinator.
    const std::string foreign_iss =
        raw_token(*coordinator, tct_claims(*stranger, *bob, 100, 510).text());
    EXPECT_EQ(error_of(check(signed_bundle(with_second(foreign_iss)), alice->aid())),
              "participant TCT issuer does not match coordinator");
}

TEST_P(SessionBundles, RevokedMembersAreDroppedNotRefused) {
    const SessionTrustBundle bundle = built(members());
    RecordingCheck revocation;
    revocation.revoked = {jti_text(1), jti_text(3)};
    auto verdict = check(bundle, alice->aid(), 300, &revocation);
    ASSERT_TRUE(verdict) << error_of(verdict);
    EXPECT_EQ(verdict->kind, BundleVerdict::Kind::Degraded);
    EXPECT_EQ(verdict->active_aids, std::vector<std::string>{bob->aid().as_str()});
    EXPECT_EQ(verdict->dropped_aids,
              (std::vector<std::string>{alice->aid().as_str(), carol->aid().as_str()}))
        << "the verifier's own revoked entry is dropped too";
    EXPECT_EQ(revocation.asked, (std::vector<std::string>{jti_text(1), jti_text(2), jti_text(3)}));
}

INSTANTIATE_TEST_SUITE_P(Suites, SessionBundles, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "P256" : "Ed25519"; });

TEST(SessionBundleBuild, ChecksParticipantsInOrder) {
    const SharedSigningKey coordinator = ed25519_key(1), alice = ed25519_key(2),
                           bob = ed25519_key(3), stranger = ed25519_key(9);
    const Aid long_bob = *Aid::parse("aid:pubkey:ed25519:" + bob->aid().as_str().substr(11));
    auto attempt = [&](std::vector<ParticipantEntry> participants) {
        return error_of(build(*coordinator, participants, std::nullopt, 100));
    };
    EXPECT_EQ(attempt({}), "participants array is empty");
    EXPECT_EQ(attempt({{alice->aid(), mint(*stranger, *alice, 0, 9)},
                       {bob->aid(), mint(*coordinator, *alice, 0, 9)}}),
              "participant TCT issuer does not match coordinator");
    EXPECT_EQ(attempt({{alice->aid(), mint(*coordinator, *alice, 0, 9)},
                       {bob->aid(), mint(*coordinator, *alice, 0, 9)}}),
              "participant TCT audience does not match entry AID");
    EXPECT_EQ(attempt({{long_bob, mint(*coordinator, *bob, 0, 9)}}),
              "participant TCT audience does not match entry AID");
    EXPECT_EQ(attempt({{alice->aid(), "x." + b64u_encode(std::string_view("nope")) + ".z"}})
                  .substr(0, 48),
              "canonicalization failed: participant tct claims:");

    // expires_at is the smallest exp; repeated members and expired tokens are accepted.
    auto bundle =
        build(*coordinator,
              std::vector<ParticipantEntry>{{alice->aid(), mint(*coordinator, *alice, 0, 300)},
                                            {bob->aid(), mint(*coordinator, *bob, 0, 100)},
                                            {alice->aid(), mint(*coordinator, *alice, 0, 200)}},
              std::nullopt, -5);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->expires_at, 100);
    EXPECT_EQ(bundle->issued_at, -5);
    EXPECT_EQ(bundle->participants.size(), 3u);
    auto again = build(*coordinator, bundle->participants, std::nullopt, -5);
    EXPECT_NE(again->session_id, bundle->session_id) << "each build draws a fresh identifier";
}

TEST(SessionBundleWire, SigningBytesAreCanonical) {
    const SharedSigningKey coordinator = ed25519_key(1);
    const std::string aid = coordinator->aid().as_str();
    auto read = [&](std::string_view session_id, std::string_view extensions) {
        auto envelope = json::from_json<SessionBundleEnvelope>(
            R"({"session_bundle":{"version":"vesk/0.2","session_id":")" + std::string(session_id) +
            R"(","coordinator":")" + aid +
            R"(","issued_at":-7,"expires_at":9007199254740993,"participants":[{"aid":")" + aid +
            R"(","tct":"t\u0001"}])" + std::string(extensions) + R"(,"signature":"s"}})");
        EXPECT_TRUE(envelope) << envelope.error().text();
        return *signing_bytes(BundleSigningView::of(envelope->session_bundle));
    };
    const std::string want =
        R"({"coordinator":")" + aid +
        R"(","expires_at":9007199254740992,"extensions":{"a":[],"b":{"c":1,"d":2}},)"
        R"("issued_at":-7,"participants":[{"aid":")" +
        aid + R"(","tct":"t\u0001"}],"session_id":")" + std::string(kSession) +
        R"(","version":"vesk/0.2"})";
    EXPECT_EQ(read(kSession, R"(,"extensions":{"b":{"d":2,"c":1},"a":[]})"), want);
    EXPECT_EQ(read("{7D444840-9DC0-11D1-B245-5FFDCE74FAD2}",
                   R"(,"extensions":{"b":{"d":2,"c":1},"a":[]})"),
              want);
    EXPECT_EQ(read("urn:uuid:7d444840-9dc0-11d1-b245-5ffdce74fad2", R"(,"extensions":null)")
                  .find("extensions"),
              std::string::npos);
    EXPECT_NE(
        read("7d4448409dc011d1b2455ffdce74fad2", R"(,"extensions":{})").find(R"("extensions":{})"),
        std::string::npos);
}

TEST(SessionBundleWire, ReadingErrorsNameTheFault) {
    const std::string aid = ed25519_key(1)->aid().as_str();
    const std::string p = R"([")" + aid + R"(","t"])";
    auto bundle_array = [&](std::string_view tail) {
        return R"({"session_bundle":["vesk/0.2",")" + std::string(kSession) + R"(",")" + aid +
               R"(",1,2,[)" + p + "]" + std::string(tail) + "]}";
    };
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {bundle_array(R"(,null,"sig")"), "ok"},
        {bundle_array(R"(,{"x":1})"),
         "invalid length 7, expected struct SessionTrustBundle with 8 elements"},
        {bundle_array(R"(,null,"sig",1)"), "trailing characters"},
        {R"({"session_bundle":[],"x":1})",
         "invalid length 0, expected struct SessionTrustBundle with 8 elements"},
        {R"({"x":1})", "unknown field `x`, expected `session_bundle`"},
        {R"({"session_bundle":{"note":1}})",
         "unknown field `note`, expected one of `version`, `session_id`, `coordinator`, "
         "`issued_at`, `expires_at`, `participants`, `extensions`, `signature`"},
        {R"({"session_bundle":{"signature":"s"}})", "missing field `version`"},
        {R"({"session_bundle":{"version":"v","version":"v"}})", "duplicate field `version`"},
        {R"({"session_bundle":["v","nope"]})", "UUID parsing failed: "},
        {R"({"session_bundle":["v",7]})", "expected a formatted UUID string"},
        {R"({"session_bundle":["v",")" + std::string(kSession) + R"(","aid:x"]})", "AID"},
        {R"({"session_bundle":["v",")" + std::string(kSession) + R"(",")" + aid + R"(",1.5]})",
         "invalid type: floating point `1.5`, expected i64"},
        {R"({"session_bundle":["v",")" + std::string(kSession) + R"(",")" + aid + R"(","1"]})",
         "invalid type: string \"1\", expected i64"},
        {R"({"session_bundle":["v",")" + std::string(kSession) + R"(",")" + aid + R"(",1,2,[[")" +
             aid + R"("]]]})",
         "invalid length 1, expected struct ParticipantEntry with 2 elements"},
    };
    for (const Case& c : cases) {
        auto read = json::from_json<SessionBundleEnvelope>(c.text);
        const std::string got = read ? "ok" : read.error().text();
        EXPECT_NE(got.find(c.error), std::string::npos) << c.text << "\n  gave: " << got;
        if (!read) {
            EXPECT_TRUE(read.error().has_position()) << c.text;
        }
    }
}

TEST(ParticipantClaims, DecodingFailuresInOrder) {
    const SharedSigningKey coordinator = ed25519_key(1), holder = ed25519_key(2);
    const RawClaims claims = tct_claims(*coordinator, *holder, 1, 2);
    auto token = [&](const RawClaims& c) { return raw_token(*coordinator, c.text()); };
    const std::string good = token(claims);
    auto payload_of = [](const std::string& t) {
        return t.substr(t.find('.') + 1, t.rfind('.') - t.find('.') - 1);
    };
    const std::string payload = payload_of(good);
    struct Case {
        const char* name;
        std::string token;
        std::string error;
    };
    const Case cases[] = {
        {"two segments", "a.b",
         "canonicalization failed: participant tct: compact JWS malformed: expected exactly "
         "three non-empty segments"},
        {"empty payload", "a..c",
         "canonicalization failed: participant tct: compact JWS malformed: expected exactly "
         "three non-empty segments"},
        {"four segments", good + ".d",
         "canonicalization failed: participant tct: compact JWS malformed: expected exactly "
         "three non-empty segments"},
        {"padded payload", "a." + payload + "=.c",
         "canonicalization failed: participant tct: compact JWS malformed: payload segment: "
         "base64url padding is forbidden in VESK"},
        {"repeated claim", token(RawClaims(claims).add("iss", json_str("x"))),
         "canonicalization failed: participant tct claims: duplicate field `iss`"},
        {"unknown before missing", token(without(claims, "exp").add("extra", "1")),
         "unknown field: extra"},
        {"missing claim", token(without(claims, "exp")),
         "canonicalization failed: participant tct claims: missing field `exp`"},
        {"bad AID", token(RawClaims(claims).set("sub", json_str("aid:nope"))),
         "canonicalization failed: participant tct claims: "},
        {"not an object", raw_token(*coordinator, R"(["vesk/0.2"])"),
         "canonicalization failed: participant tct claims: invalid length 1, expected struct "
         "TctClaims with 10 elements"},
        {"expired, other version, garbage header and signature",
         "a." + payload_of(token(RawClaims(claims).set("ver", json_str("v9")))) + ".zz", "ok"},
    };
    for (const Case& c : cases) {
        const std::string got = error_of(decode_participant_claims(c.token));
        EXPECT_EQ(got.substr(0, c.error.size()), c.error) << c.name << "\n  gave: " << got;
    }
}

}  // namespace
}  // namespace vesk::session_bundle
