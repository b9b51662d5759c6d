#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "vesk/session_bundle/bundle.h"

namespace vesk::session_bundle {
namespace {

using namespace vesk::testing;

constexpr std::string_view kSession = "7d444840-9dc0-11d1-b245-5ffdce74fad2";

TEST(SessionBundleWire, SigningBytesAreCanonical) {
    const std::string aid = ed25519_key(1)->aid().as_str();
    auto bytes = [&](std::string_view session_id, std::string_view extensions) {
        auto envelope = json::from_json<SessionBundleEnvelope>(
            R"({"session_bundle":{"version":"vesk/0.2","session_id":")" + std::string(session_id) +
            R"(","coordinator":")" + aid +
            R"(","issued_at":-7,"expires_at":9007199254740993,"participants":[{"aid":")" + aid +
            R"(","tct":"t\u0001"}])" + std::string(extensions) + R"(,"signature":"s"}})");
        return envelope ? *signing_bytes(envelope->session_bundle) : envelope.error().text();
    };
    EXPECT_EQ(bytes("{7D444840-9DC0-11D1-B245-5FFDCE74FAD2}",
                    R"(,"extensions":{"b":{"d":2,"c":1},"a":[]})"),
              R"({"coordinator":")" + aid +
                  R"(","expires_at":9007199254740992,"extensions":{"a":[],"b":{"c":1,"d":2}},)"
                  R"("issued_at":-7,"participants":[{"aid":")" +
                  aid + R"(","tct":"t\u0001"}],"session_id":")" + std::string(kSession) +
                  R"(","version":"vesk/0.2"})");
    EXPECT_EQ(bytes(kSession, R"(,"extensions":null)").find("extensions"), std::string::npos);
    EXPECT_NE(bytes(kSession, R"(,"extensions":{})").find(R"("extensions":{})"), std::string::npos);
}

TEST(SessionBundleWire, UnknownMemberNamesTheRecordsMembers) {
    EXPECT_TRUE(outcome(json::from_json<SessionBundleEnvelope>(R"({"session_bundle":{"note":1}})"))
                    .starts_with("unknown field `note`, expected one of `version`, `session_id`, "
                                 "`coordinator`, `issued_at`, `expires_at`, `participants`, "
                                 "`extensions`, `signature` at line 1 column "));
}

TEST(ParticipantClaims, DecodingFailuresInOrder) {
    const SharedSigningKey issuer = ed25519_key(1), holder = ed25519_key(2);
    const RawClaims claims = tct_claims(*issuer, *holder, 1, 2);
    auto token = [&](const RawClaims& c) { return sign_token(*issuer, "vesk-tct+jwt", c.text()); };
    RawClaims missing_exp = claims;
    std::erase_if(missing_exp.members, [](const auto& m) { return m.first == "exp"; });
    const std::string good = token(claims), bad_segments =
                                                "canonicalization failed: participant tct: compact "
                                                "JWS malformed: expected exactly three "
                                                "non-empty segments";
    const std::string payload =
        good.substr(good.find('.') + 1, good.rfind('.') - good.find('.') - 1);
    const std::pair<std::string, std::string> cases[] = {
        {good + ".d", bad_segments},
        {"a." + payload + "=.c",
         "canonicalization failed: participant tct: compact JWS malformed: payload segment: "
         "base64url padding is forbidden in VESK"},
        // A repeated name is refused at any depth, before any other reading.
        {token(RawClaims(missing_exp).add("ext", R"({"k":1,"k":2})")),
         "canonicalization failed: participant tct claims: duplicate field `k`"},
        {token(RawClaims(missing_exp).add("extra", "1")), "unknown field: extra"},
        {token(missing_exp),
         "canonicalization failed: participant tct claims: missing field `exp`"},
        // Expired, another version, garbage header and signature: still decodes.
        {"a." + payload + ".zz", "ok"},
    };
    for (const auto& [text, error] : cases) {
        const std::string got = outcome(decode_participant_claims(text));
        EXPECT_EQ(got.substr(0, error.size()), error) << text;
    }
}

}  // namespace
}  // namespace vesk::session_bundle
