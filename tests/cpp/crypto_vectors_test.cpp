// Public conformance vectors: Wycheproof Ed25519, ECDSA P-256 (P1363) and RSASSA-PKCS1-v1_5
// SHA-256, RFC 6979 P-256.
#include <gtest/gtest.h>

#include <set>

#include "test_data.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/rsa.h"

namespace vesk {
namespace {

using test::elements;
using test::from_hex;
using test::member;
using test::text_of;

// Every test of a Wycheproof verification file, against the key whose hex bytes each group
// holds in its public key's member `key_member`. No file here holds "acceptable" results:
// anything not valid must be refused.
TEST(CryptoVectors, WycheproofEd25519AndEcdsaP256P1363) {
    struct File {
        std::string name, key_member;
        int valid, invalid;
    };
    for (const File& f :
         {File{"wycheproof/ed25519_test.json", "pk", 88, 63},
          File{"wycheproof/ecdsa_secp256r1_sha256_p1363_test.json", "uncompressed", 173, 89}}) {
        const json::Value doc = test::load_json(f.name);
        int valid = 0, invalid = 0;
        for (const json::Value& group : elements(member(doc, "testGroups"))) {
            auto key = VerifyingKey::from_public_bytes(
                from_hex(text_of(member(group, "publicKey"), f.key_member)));
            for (const json::Value& test : elements(member(group, "tests"))) {
                const bool accepted = key && key->verify(from_hex(text_of(test, "msg")),
                                                         from_hex(text_of(test, "sig")));
                const std::string result = text_of(test, "result");
                (result == "valid" ? valid : invalid)++;
                EXPECT_EQ(accepted, result == "valid")
                    << f.name << " tcId " << *member(test, "tcId").as_unsigned() << ": "
                    << text_of(test, "comment");
            }
        }
        EXPECT_EQ(valid, f.valid) << f.name;
        EXPECT_EQ(invalid, f.invalid) << f.name;
    }
}

// Edge-case Ed25519 vectors: the strict rule refuses small-order keys and R values,
// non-canonical encodings of either, and (being cofactorless) signatures that hold only up to a
// small-order residue; every other vector verifies.
TEST(CryptoVectors, Ed25519EdgeCasesFollowTheStrictRule) {
    const json::Value doc = test::load_json("ed25519/ed25519vectors.json");
    const std::set<std::string> refused = {"low_order_A", "low_order_R", "non_canonical_A",
                                           "non_canonical_R", "low_order_residue"};
    int vectors = 0;
    for (const json::Value& v : elements(doc)) {
        bool expect_refusal = false;
        if (const json::Array* flags = member(v, "flags").as_array()) {
            for (const json::Value& flag : *flags)
                expect_refusal |= refused.contains(std::string(*flag.as_string()));
        }
        auto key = VerifyingKey::from_public_bytes(from_hex(text_of(v, "key")));
        const bool ok =
            key && key->verify(test::as_bytes(text_of(v, "msg")), from_hex(text_of(v, "sig")));
        EXPECT_EQ(ok, !expect_refusal) << "vector " << *member(v, "number").as_unsigned();
        ++vectors;
    }
    EXPECT_EQ(vectors, 914);
}

TEST(CryptoVectors, Rfc6979P256Sha256) {
    const json::Value doc = test::load_json("rfc6979/rfc6979.json");
    int cases = 0;
    for (const json::Value& curve : elements(doc)) {
        if (text_of(curve, "curve") != "P256") continue;
        const Bytes secret = from_hex(text_of(curve, "private"));
        auto key =
            SigningKey::from_p256_scalar(std::span<const std::uint8_t, 32>(secret.data(), 32));
        ASSERT_TRUE(key);
        EXPECT_EQ(lower_hex(*(*key)->verifying_key().p256_uncompressed()),
                  lower_hex(from_hex("04" + text_of(curve, "Ux") + text_of(curve, "Uy"))));
        for (const json::Value& c : elements(member(curve, "cases"))) {
            EXPECT_EQ(lower_hex((*key)->sign(test::as_bytes(text_of(c, "message")))),
                      lower_hex(from_hex(text_of(c, "r") + text_of(c, "s"))))
                << text_of(c, "message");
            ++cases;
        }
    }
    EXPECT_EQ(cases, 2);
}

// Wycheproof RSASSA-PKCS1-v1_5 SHA-256 vectors, keys taken from their JWK form; "acceptable"
// cases (a DigestInfo without its NULL parameters) are refused.
TEST(CryptoVectors, WycheproofRs256AcceptsExactlyTheValidSignatures) {
    for (const auto& [name, tests] : {std::pair{"rsa_signature_2048_sha256_test.json", 259},
                                      {"rsa_signature_3072_sha256_test.json", 259},
                                      {"rsa_signature_4096_sha256_test.json", 258}}) {
        const json::Value doc = test::load_json(std::string("wycheproof/") + name);
        int total = 0;
        for (const json::Value& group : elements(member(doc, "testGroups"))) {
            const json::Value& jwk = member(group, "keyJwk");
            const Bytes n = b64u_decode(text_of(jwk, "n")).value(),
                        e = b64u_decode(text_of(jwk, "e")).value();
            for (const json::Value& test : elements(member(group, "tests"))) {
                ++total;
                const bool valid = text_of(test, "result") == "valid";
                Bytes message = from_hex(text_of(test, "msg")),
                      sig = from_hex(text_of(test, "sig"));
                EXPECT_EQ(verify_rs256(n, e, message, sig).has_value(), valid)
                    << name << " tcId " << *member(test, "tcId").as_unsigned() << ": "
                    << text_of(test, "comment");
                if (!valid) continue;
                // The signature must be exactly as long as the modulus: no zero added or removed.
                Bytes longer = sig, shorter(sig.begin() + 1, sig.end());
                longer.insert(longer.begin(), 0x00);
                EXPECT_FALSE(verify_rs256(n, e, message, longer));
                EXPECT_FALSE(verify_rs256(n, e, message, shorter));
            }
        }
        EXPECT_EQ(total, tests);
    }
}

}  // namespace
}  // namespace vesk
