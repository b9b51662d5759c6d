// Public conformance vectors: Wycheproof Ed25519 and ECDSA P-256 (P1363), RFC 6979 P-256.
#include <gtest/gtest.h>

#include <set>

#include "test_data.h"
#include "vesk/core/json_reader.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/thumbprint.h"

namespace vesk {
namespace {

using test::elements;
using test::from_hex;
using test::load_json;
using test::member;
using test::text_of;

struct Tally {
    int valid_passed = 0, invalid_rejected = 0, total = 0;
};

// Runs every test of a Wycheproof verification file against the key whose hex bytes each group
// holds in its public key's member `key_member`.
Tally run_wycheproof(const std::string& file, std::string_view key_member) {
    Tally tally;
    const json::Value doc = load_json(file);
    for (const json::Value& group : elements(member(doc, "testGroups"))) {
        auto key = VerifyingKey::from_public_bytes(
            from_hex(text_of(member(group, "publicKey"), key_member)));
        for (const json::Value& test : elements(member(group, "tests"))) {
            const std::string result = text_of(test, "result");
            const Bytes msg = from_hex(text_of(test, "msg"));
            const Bytes sig = from_hex(text_of(test, "sig"));
            const bool accepted = key && key->verify(msg, sig).has_value();
            ++tally.total;
            if (result == "valid") {
                EXPECT_TRUE(accepted) << file << " tcId " << member(test, "tcId").as_unsigned()[0]
                                      << ": " << text_of(test, "comment");
                tally.valid_passed += accepted;
            } else {
                // No file here holds "acceptable" results; anything not valid must be refused.
                EXPECT_EQ(result, "invalid");
                EXPECT_FALSE(accepted) << file << " tcId " << member(test, "tcId").as_unsigned()[0]
                                       << ": " << text_of(test, "comment");
                tally.invalid_rejected += !accepted;
            }
        }
    }
    return tally;
}

TEST(CryptoVectors, WycheproofEd25519AndEcdsaP256P1363) {
    struct File {
        const char* name;
        const char* key_member;
        int total, valid, invalid;
    };
    for (const File& f : {File{"wycheproof/ed25519_test.json", "pk", 151, 88, 63},
                          File{"wycheproof/ecdsa_secp256r1_sha256_p1363_test.json", "uncompressed",
                               262, 173, 89}}) {
        Tally t = run_wycheproof(f.name, f.key_member);
        EXPECT_EQ(t.total, f.total) << f.name;
        EXPECT_EQ(t.valid_passed, f.valid) << f.name;
        EXPECT_EQ(t.invalid_rejected, f.invalid) << f.name;
    }
}

// Edge-case Ed25519 vectors: the strict rule refuses small-order keys and R values,
// non-canonical encodings of either, and (being cofactorless) signatures that hold only up to a
// small-order residue; every other vector verifies.
TEST(CryptoVectors, Ed25519EdgeCasesFollowTheStrictRule) {
    const json::Value doc = load_json("ed25519/ed25519vectors.json");
    const std::set<std::string> refused = {"low_order_A", "low_order_R", "non_canonical_A",
                                           "non_canonical_R", "low_order_residue"};
    int accepted = 0, rejected = 0;
    for (const json::Value& v : elements(doc)) {
        bool expect_refusal = false;
        if (const json::Array* flags = member(v, "flags").as_array()) {
            for (const json::Value& flag : *flags)
                expect_refusal |= refused.contains(std::string(*flag.as_string()));
        }
        auto key = VerifyingKey::from_public_bytes(from_hex(text_of(v, "key")));
        const bool ok =
            key && key->verify(test::as_bytes(text_of(v, "msg")), from_hex(text_of(v, "sig")));
        EXPECT_EQ(ok, !expect_refusal) << "vector " << member(v, "number").as_unsigned()[0];
        (ok ? accepted : rejected)++;
    }
    EXPECT_EQ(accepted + rejected, 914);
}

// The thumbprint's coordinates agree with the JWK that the vector file gives for each key.
TEST(CryptoVectors, P256ThumbprintMatchesPublishedJwk) {
    const json::Value doc = load_json("wycheproof/ecdsa_secp256r1_sha256_p1363_test.json");
    int checked = 0;
    for (const json::Value& group : elements(member(doc, "testGroups"))) {
        const json::Value* published = group.as_object()->find("publicKeyJwk");
        if (!published) continue;  // some groups give no JWK
        const json::Value& jwk = *published;
        auto key = VerifyingKey::from_public_bytes(
            from_hex(text_of(member(group, "publicKey"), "uncompressed")));
        ASSERT_TRUE(key);
        const std::string input = R"({"crv":"P-256","kty":"EC","x":")" + text_of(jwk, "x") +
                                  R"(","y":")" + text_of(jwk, "y") + R"("})";
        EXPECT_EQ(jwk_thumbprint(*key), b64u_encode(sha256(input)));
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(CryptoVectors, Rfc6979P256Sha256) {
    const json::Value doc = load_json("rfc6979/rfc6979.json");
    int cases = 0;
    for (const json::Value& curve : elements(doc)) {
        if (text_of(curve, "curve") != "P256") continue;
        const Bytes secret = from_hex(text_of(curve, "private"));
        auto key =
            SigningKey::from_p256_scalar(std::span<const std::uint8_t, 32>(secret.data(), 32));
        ASSERT_TRUE(key);
        std::string expected_point = "04" + text_of(curve, "Ux") + text_of(curve, "Uy");
        for (char& c : expected_point) c = static_cast<char>(std::tolower(c));
        EXPECT_EQ(lower_hex(*(*key)->verifying_key().p256_uncompressed()), expected_point);
        for (const json::Value& c : elements(member(curve, "cases"))) {
            std::string expected = text_of(c, "r") + text_of(c, "s");
            for (char& ch : expected) ch = static_cast<char>(std::tolower(ch));
            EXPECT_EQ(lower_hex((*key)->sign(test::as_bytes(text_of(c, "message")))), expected)
                << text_of(c, "message");
            ++cases;
        }
    }
    EXPECT_EQ(cases, 2);
}

}  // namespace
}  // namespace vesk
