#include "vesk/crypto/jws.h"

#include <gtest/gtest.h>

#include <limits>

#include "fixtures.h"
#include "vesk/crypto/token_claims.h"

namespace vesk {
namespace {

using testing::forge;

const std::string kClaims = R"({"iss":"x","n":1})";
const std::string kMalformed = "compact JWS malformed: ";

std::string verify_text(const SharedSigningKey& key, std::string_view token,
                        std::string_view typ = jws::kTypTct) {
    return testing::outcome(jws::verify_compact(key->aid(), typ, token));
}

TEST(Jws, SignsDeterministicallyWithTheFixedHeader) {
    for (auto key : {SigningKey::generate_ed25519(), SigningKey::generate_p256()}) {
        const std::string token = jws::sign_claims_bytes(*key, jws::kTypGrant, kClaims);
        const std::string alg = key->algorithm() == Algorithm::P256 ? "ES256" : "EdDSA";
        EXPECT_TRUE(
            token.starts_with(b64u_encode(R"({"alg":")" + alg + R"(","typ":"vesk-grant+jwt"})") +
                              "." + b64u_encode(kClaims) + "."));
        auto payload = jws::verify_compact(key->aid(), jws::kTypGrant, token).value();
        EXPECT_EQ(std::string(payload.begin(), payload.end()), kClaims);
        EXPECT_EQ(token, jws::sign_claims_bytes(*key, jws::kTypGrant, kClaims));
    }
}

TEST(Jws, EncodesClaimsCanonically) {
    auto key = SigningKey::generate_ed25519();
    json::Object claims;
    claims.append_new("sub", "b");
    claims.append_new("iat", 1.0);
    claims.append_new("aud", json::Array{"x"});
    auto token = jws::encode_compact(*key, jws::kTypTct, json::Value(claims));
    EXPECT_EQ(jws::decode_payload(*token)->payload_text(), R"({"aud":["x"],"iat":1,"sub":"b"})");
    json::Object bad;
    bad.append_new("n", std::numeric_limits<double>::infinity());
    const std::string refused =
        testing::outcome(jws::encode_compact(*key, jws::kTypTct, json::Value(bad)));
    EXPECT_TRUE(refused.starts_with(kMalformed + "claims canonicalization: ")) << refused;
}

TEST(Jws, HeaderIsReadStrictlyInEitherForm) {
    auto key = SigningKey::generate_ed25519();
    const std::pair<std::string, std::string> cases[] = {
        {R"({"typ":"vesk-tct+jwt","alg":"EdDSA"})", "ok"},
        {R"( ["EdDSA","vesk-tct+jwt"] )", "ok"},
        {R"({"alg":"EdDSA","typ":"vesk-tct+jwt","kid":"x"})",
         kMalformed +
             "protected header: unknown field `kid`, expected `alg` or `typ` at line 1 column 41"},
        {R"({"alg":"EdDSA","typ":"VESK-TCT+JWT"})",
         "JWS typ header mismatch: expected vesk-tct+jwt, got VESK-TCT+JWT"},
        {R"({"alg":"ES256","typ":"vesk-tct+jwt"})",
         "JWS alg header does not match the signer AID's algorithm: expected EdDSA for this AID, "
         "got ES256"},
    };
    for (const auto& [header, expected] : cases) {
        EXPECT_EQ(verify_text(key, forge(*key, header, kClaims)), expected) << header;
    }
    auto p256 = SigningKey::generate_p256();
    EXPECT_EQ(verify_text(p256, forge(*p256, R"({"alg":"EdDSA","typ":"vesk-tct+jwt"})", kClaims)),
              "JWS alg header does not match the signer AID's algorithm: expected ES256 for this "
              "AID, got EdDSA");
}

TEST(Jws, ChecksRunInOrder) {
    auto key = SigningKey::generate_ed25519();
    auto other = SigningKey::generate_ed25519();
    const std::string header = R"({"alg":"EdDSA","typ":"vesk-tct+jwt"})";
    // The signature is checked only after typ and alg pass, the payload only after the signature.
    EXPECT_EQ(verify_text(key, forge(*other, header, kClaims)), "signature verification failed");
    EXPECT_EQ(verify_text(key, forge(*other, header, kClaims), jws::kTypDelegation),
              "JWS typ header mismatch: expected vesk-delegation+jwt, got vesk-tct+jwt");
    EXPECT_EQ(verify_text(key, forge(*other, header, "[1]")), "signature verification failed");
    for (std::string payload : {"[1]", "5", "{", R"({"a":1} x)"}) {
        EXPECT_EQ(verify_text(key, forge(*key, header, payload)),
                  kMalformed + "payload is not a JSON object")
            << payload;
    }
    // A signature segment that decodes to 63 bytes.
    std::string token = forge(*key, header, kClaims);
    token = token.substr(0, token.rfind('.') + 1) + b64u_encode(Bytes(63, 7));
    EXPECT_EQ(verify_text(key, token), "signature verification failed");
}

TEST(Jws, SegmentsAndEncodingAreStrict) {
    auto key = SigningKey::generate_ed25519();
    const std::string three = kMalformed + "expected exactly three non-empty segments";
    for (std::string token : {"a.b", "a.b.c.d", "a..c", "a.b.c.", ".b.c", ""}) {
        EXPECT_EQ(testing::outcome(jws::decode_payload(token)), three) << token;
        EXPECT_EQ(verify_text(key, token), three) << token;
    }
    const std::string token = jws::sign_claims_bytes(*key, jws::kTypTct, kClaims);
    const std::size_t first = token.find('.'), last = token.rfind('.');
    const auto changed = [&](std::size_t at, std::string_view text) {
        return std::string(token).insert(at, text);
    };
    const std::string padding = "base64url padding is forbidden in VESK";
    EXPECT_EQ(verify_text(key, changed(first, "=")), kMalformed + "header segment: " + padding);
    EXPECT_EQ(verify_text(key, changed(last, "==")), kMalformed + "payload segment: " + padding);
    EXPECT_EQ(verify_text(key, changed(last + 1, "*")),
              kMalformed + "signature segment: invalid base64url character");
    EXPECT_EQ(testing::outcome(jws::decode_payload(changed(first + 1, "+"))),
              kMalformed + "payload segment: invalid base64url character");
}

// Claims that do not read are looked into first: a malformed leading JSON value, then a member the
// record does not declare, in member order and at the top level of one whole object only.
TEST(Jws, ClaimsThatDoNotReadAreLookedIntoFirst) {
    const auto read = [](std::string_view payload) -> std::string {
        auto claims = jws::read_claims<JwsHeader>({{}, Bytes(payload.begin(), payload.end())});
        if (claims) return "ok";
        if (auto name = claims.error().unknown_member()) return "unknown " + *name;
        return claims.error().text();
    };
    const std::pair<std::string, std::string> cases[] = {
        {R"( {"typ":"t","alg":"a"} )", "ok"},
        {R"({"alg":1,"zz":2,"yy":3,"zz":4})", "unknown zz"},
        {R"({"Alg":"a"})", "unknown Alg"},
        {R"({"alg":"a","typ":{"zz":1}})",
         "invalid type: map, expected a string at line 1 column 17"},
        {R"({"alg":)", "EOF while parsing a value at line 1 column 7"},
        {std::string(128, '['), "recursion limit exceeded at line 1 column 128"},
        // Not one whole value: only the strict reader looks, and names a member up to a backquote.
        {R"({"alg":"a","typ":"t"} x)", "trailing characters at line 1 column 23"},
        {R"({"k`x":1} x)", "unknown k"},
        {R"(["a"])",
         "invalid length 1, expected struct JwsHeader with 2 elements at line 1 column 5"},
    };
    for (const auto& [payload, expected] : cases) EXPECT_EQ(read(payload), expected) << payload;
}

TEST(Jws, HeaderTypIsReadWithoutVerifying) {
    EXPECT_EQ(JwsHeader::parse(b64u_encode(R"({"typ":"t","x":[1]})")), "t");
    EXPECT_EQ(JwsHeader::parse(b64u_encode(R"({"typ":"t"})") + ".junk"), "t");
    EXPECT_EQ(JwsHeader::parse(b64u_encode(R"({"typ":5})")), std::nullopt);
    EXPECT_EQ(JwsHeader::parse(b64u_encode(R"(["t"])")), std::nullopt);
    EXPECT_EQ(JwsHeader::parse("not base64!.x.y"), std::nullopt);
}

}  // namespace
}  // namespace vesk
