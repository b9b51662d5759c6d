#include <gtest/gtest.h>

#include <string>

#include "tct_support.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"
#include "vesk/revocation/revocation_list.h"

namespace vesk::revocation {
namespace {

using testing::ed25519_key;
using testing::p256_key;

constexpr std::string_view kJti = "0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50";

RevocationList list_by(const SigningKey& key, std::int64_t expires_at = 2000) {
    return {"vesk/0.2", key.aid(), 1000, expires_at, {{*Uuid::parse(kJti), 900, "lost"}}, {}};
}

std::string envelope_text(std::string_view body, std::string_view signature = "sig") {
    return R"({"revocation_list":)" + std::string(body) + R"(,"signature":")" +
           std::string(signature) + "\"}";
}

constexpr std::string_view kIssuer = "aid:pubkey:iojj3XQJ8ZX9UtstPLpdcspnCb8dlBIb83SIAbQPb1w";

std::string body_text(std::string_view entries, std::string_view extra = "") {
    return R"({"version":"vesk/0.2","issuer":")" + std::string(kIssuer) +
           R"(","published_at":1,"expires_at":2,"entries":)" + std::string(entries) +
           std::string(extra) + "}";
}

TEST(RevocationSigningBytes, CanonicalOrderNumbersAndOptionalMembers) {
    const std::string entries =
        R"([{"jti":"0B6F0E6C-3C2A-4D7E-9B1A-5F0C2D3E4F50","revoked_at":9007199254740993,"reason":""},)"
        R"({"jti":"urn:uuid:0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50","revoked_at":9223372036854775807},)"
        R"({"jti":"{0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50}","revoked_at":-3,"reason":"a\"/\u0001\u00e9"}])";
    auto envelope = json::from_json<RevocationListEnvelope>(
        envelope_text(body_text(entries, R"(,"extensions":{"z":1.50,"a":{"y":true,"b":null}})")));
    ASSERT_TRUE(envelope) << envelope.error().text();
    EXPECT_EQ(
        *signing_bytes(envelope->revocation_list),
        R"({"entries":[{"jti":"0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50","reason":"","revoked_at":9007199254740992},)"
        R"({"jti":"0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50","revoked_at":9223372036854776000},)"
        R"({"jti":"0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50","reason":"a\"/\u0001é","revoked_at":-3}],)"
        R"("expires_at":2,"extensions":{"a":{"b":null,"y":true},"z":1.5},"issuer":")" +
            std::string(kIssuer) + R"(","published_at":1,"version":"vesk/0.2"})");
    // The wire form keeps exact integers and declaration order.
    EXPECT_NE(json::to_json(*envelope).find(R"("revoked_at":9007199254740993,"reason":"")"),
              std::string::npos);
}

TEST(RevocationSigningBytes, NullExtensionsAreAbsentButAnEmptyMapIsPresent) {
    auto with_null = json::from_json<RevocationListEnvelope>(
        envelope_text(body_text("[]", R"(,"extensions":null)")));
    auto with_empty = json::from_json<RevocationListEnvelope>(
        envelope_text(body_text("[]", R"(,"extensions":{})")));
    ASSERT_TRUE(with_null && with_empty);
    EXPECT_EQ(signing_bytes(with_null->revocation_list)->find("extensions"), std::string::npos);
    EXPECT_NE(signing_bytes(with_empty->revocation_list)->find(R"("extensions":{})"),
              std::string::npos);
    EXPECT_EQ(json::to_json(*with_null).find("extensions"), std::string::npos);
}

TEST(RevocationReading, ArrayFormReadsLikeTheObjectForm) {
    const std::string body = body_text(R"([["0b6f0e6c3c2a4d7e9b1a5f0c2d3e4f50",5]])");
    auto object_form = json::from_json<RevocationListEnvelope>(envelope_text(body));
    auto array_form = json::from_json<RevocationListEnvelope>("[" + body + ",\"sig\"]");
    ASSERT_TRUE(object_form && array_form);
    EXPECT_EQ(json::to_json(*object_form), json::to_json(*array_form));
}

TEST(RevocationReading, ErrorsNameTheFault) {
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {R"({"signature":"s"})", "missing field `revocation_list` at line 1 column 17"},
        {envelope_text(body_text("[]", R"(,"note":1)")),
         "unknown field `note`, expected one of `version`, `issuer`, `published_at`, "
         "`expires_at`, `entries`, `extensions`"},
        {"[" + body_text("[]") + "]",
         "invalid length 1, expected struct RevocationListEnvelope with 2 elements"},
        {"[" + body_text(R"([["0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50"]])") + ",\"s\"]",
         "invalid length 1, expected struct RevocationEntry with 3 elements"},
        {envelope_text(body_text(R"([{"jti":"nope","revoked_at":1}])")), "UUID parsing failed: "},
        {envelope_text(
             body_text(R"([{"jti":"0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50","revoked_at":1.0}])")),
         "invalid type: floating point `1.0`, expected i64"},
        {"7", "invalid type: integer `7`, expected struct RevocationListEnvelope"},
        {envelope_text(body_text("[]")) + " x", "trailing characters"},
    };
    for (const Case& c : cases) {
        auto read = json::from_json<RevocationListEnvelope>(c.text);
        ASSERT_FALSE(read) << c.text;
        EXPECT_NE(read.error().text().find(c.error), std::string::npos)
            << c.text << "\n  gave: " << read.error().text();
        EXPECT_TRUE(read.error().has_position()) << c.text;
    }
    auto bad_issuer = json::from_json<RevocationListEnvelope>(envelope_text(
        R"({"version":"v","issuer":"did:x","published_at":1,"expires_at":2,"entries":[]})"));
    ASSERT_FALSE(bad_issuer);
    EXPECT_EQ(bad_issuer.error().message, Aid::parse("did:x").error().text());
}

class RevocationSignatures : public ::testing::TestWithParam<bool> {
  protected:
    SharedSigningKey key() const { return GetParam() ? p256_key(7) : ed25519_key(7); }
};

TEST_P(RevocationSignatures, SignedSnapshotsVerifyThroughTheirWrittenForm) {
    const SharedSigningKey signer = key();
    auto envelope = sign(list_by(*signer), *signer);
    ASSERT_TRUE(envelope);
    EXPECT_EQ(envelope->signature.starts_with("p256."), GetParam());
    auto reread = json::from_json<RevocationListEnvelope>(json::to_json(*envelope));
    ASSERT_TRUE(reread);
    EXPECT_TRUE(verify(*reread, signer->aid(), 2000));
    // The signature covers SHA-256 of exactly the signing bytes.
    EXPECT_TRUE(verify_signature_text(signer->verifying_key(),
                                      sha256(*signing_bytes(reread->revocation_list)),
                                      reread->signature));
}

TEST_P(RevocationSignatures, FailuresComeInOrderWithTheirCodes) {
    const SharedSigningKey signer = key();
    const SharedSigningKey other = ed25519_key(9);
    const RevocationListEnvelope good = *sign(list_by(*signer), *signer);
    auto changed = [&](auto edit) {
        RevocationListEnvelope e = good;
        edit(e);
        return e;
    };
    struct Case {
        const char* name;
        RevocationListEnvelope envelope;
        std::int64_t now;
        std::string text;
        std::string code;
    };
    const Case cases[] = {
        {"version one byte longer", changed([](auto& e) { e.revocation_list.version += " "; }), 0,
         "TCT version is not supported", "version_unknown"},
        {"version before expiry", changed([](auto& e) { e.revocation_list.version = "vesk/0.1"; }),
         5000, "TCT version is not supported", "version_unknown"},
        {"a second late", good, 2001, "TCT has expired or is not yet valid", "expired"},
        {"expired with a bad signature", changed([](auto& e) { e.signature = "x"; }), 2001,
         "TCT has expired or is not yet valid", "expired"},
        {"foreign issuer with a bad signature", changed([&](auto& e) {
             e.revocation_list.issuer = other->aid();
             e.signature = "x";
         }),
         0, "TCT issuer does not match the verifying key", "issuer_mismatch"},
        {"signature not a signature text", changed([](auto& e) { e.signature = "abc"; }), 0,
         "TCT signature is invalid", "signature_invalid"},
        {"entry changed", changed([](auto& e) { e.revocation_list.entries[0].revoked_at += 1; }), 0,
         "TCT signature is invalid", "signature_invalid"},
        {"extensions added", changed([](auto& e) { e.revocation_list.extensions.emplace(); }), 0,
         "TCT signature is invalid", "signature_invalid"},
    };
    for (const Case& c : cases) {
        auto verified = verify(c.envelope, signer->aid(), c.now);
        ASSERT_FALSE(verified) << c.name;
        EXPECT_EQ(verified.error().text(), c.text) << c.name;
        EXPECT_EQ(error_code(verified.error()), c.code) << c.name;
    }
    EXPECT_TRUE(verify(good, signer->aid(), 2000)) << "expires_at equal to now passes";
}

INSTANTIATE_TEST_SUITE_P(Suites, RevocationSignatures, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "P256" : "Ed25519"; });

TEST(RevocationVerify, IssuerFormsAreDifferentIssuers) {
    const SharedSigningKey signer = ed25519_key(3);
    const std::string tail = signer->aid().as_str().substr(std::string("aid:pubkey:").size());
    const Aid long_form = *Aid::parse("aid:pubkey:ed25519:" + tail);
    RevocationList list = list_by(*signer);
    list.issuer = long_form;
    const RevocationListEnvelope envelope = *sign(list, *signer);
    EXPECT_NE(*signing_bytes(envelope.revocation_list), *signing_bytes(list_by(*signer)));
    EXPECT_TRUE(verify(envelope, long_form, 0));
    auto mismatch = verify(envelope, signer->aid(), 0);
    ASSERT_FALSE(mismatch);
    EXPECT_EQ(error_code(mismatch.error()), "issuer_mismatch");
}

TEST(RevocationVerify, AnIssuerWithoutAValidKeyIsMalformed) {
    // y = 2 is not the y-coordinate of any curve point.
    Bytes y(32, 0);
    y[0] = 2;
    Aid not_a_key = *Aid::parse("aid:pubkey:" + b64u_encode(y));
    ASSERT_FALSE(VerifyingKey::from_aid(not_a_key));
    RevocationList list = list_by(*ed25519_key(1));
    list.issuer = not_a_key;
    auto verified = verify({list, "sig"}, not_a_key, 0);
    ASSERT_FALSE(verified);
    EXPECT_EQ(verified.error().text(), VerifyingKey::from_aid(not_a_key).error().text());
    EXPECT_EQ(error_code(verified.error()), "malformed");
}

TEST(RevocationCodes, EveryOtherKindIsMalformed) {
    for (auto kind : {TctError::Kind::AudienceMismatch, TctError::Kind::Revoked,
                      TctError::Kind::Canonicalization, TctError::Kind::Crypto}) {
        EXPECT_EQ(error_code(TctError::of(kind)), "malformed");
    }
}

}  // namespace
}  // namespace vesk::revocation
