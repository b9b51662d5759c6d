#include "vesk/crypto/rsa.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "test_data.h"
#include "vesk/core/base64url.h"
#include "vesk/core/json_reader.h"

namespace vesk {
namespace {

using test::elements;
using test::from_hex;
using test::load_json;
using test::member;
using test::text_of;

// An odd number of exactly `bits` bits, as minimal big-endian bytes.
Bytes odd_modulus(std::size_t bits) {
    Bytes n((bits + 7) / 8, 0xa5);
    n[0] = static_cast<std::uint8_t>(1u << ((bits - 1) % 8));
    n.back() |= 1;
    return n;
}

TEST(RsaPublicKey, TakesOnlyWellFormedKeysOf2048To8192Bits) {
    const Bytes f4{0x01, 0x00, 0x01}, n = odd_modulus(2048);
    Bytes leading_zero = n, even = n;
    leading_zero.insert(leading_zero.begin(), 0x00);
    even.back() ^= 1;
    using Kind = RsaError::Kind;
    struct Case {
        Bytes n, e;
        std::optional<Kind> refusal;
    };
    for (const Case& c : {
             Case{odd_modulus(2048), f4, {}},
             Case{odd_modulus(8192), Bytes{0x03}, {}},
             Case{n, Bytes{0x01, 0xff, 0xff, 0xff, 0xff}, {}},  // 2^33 - 1
             Case{{}, f4, Kind::ModulusEncoding},
             Case{leading_zero, f4, Kind::ModulusEncoding},
             Case{even, f4, Kind::ModulusEven},
             Case{odd_modulus(2047), f4, Kind::ModulusSize},
             Case{odd_modulus(8193), f4, Kind::ModulusSize},
             Case{n, {}, Kind::Exponent},
             Case{n, {0x01}, Kind::Exponent},
             Case{n, {0x00, 0x03}, Kind::Exponent},
             Case{n, {0x01, 0x00, 0x00}, Kind::Exponent},
             Case{n, {0x02, 0x00, 0x00, 0x00, 0x01}, Kind::Exponent},
             Case{n, {0x01, 0x00, 0x00, 0x00, 0x00, 0x01}, Kind::Exponent},
         }) {
        auto key = RsaPublicKey::from_components(c.n, c.e);
        std::string label = std::to_string(c.n.size()) + "-byte n, e " + b64u_encode(c.e);
        if (!c.refusal) {
            ASSERT_TRUE(key) << label;
            EXPECT_EQ(key->modulus_bits(), c.n.size() * 8) << label;
        } else {
            ASSERT_FALSE(key) << label;
            EXPECT_EQ(key.error().kind, *c.refusal) << label;
        }
    }
}

Bytes b64_of(const json::Value& value, std::string_view name) {
    auto bytes = b64u_decode(text_of(value, name));
    if (!bytes) ADD_FAILURE() << name << " is not base64url";
    return bytes.value_or(Bytes{});
}

// Wycheproof RSASSA-PKCS1-v1_5 SHA-256 vectors, keys taken from their JWK form.
struct VectorFile {
    std::string name;
    std::size_t tests;
};

class Rs256Wycheproof : public testing::TestWithParam<VectorFile> {};

TEST_P(Rs256Wycheproof, AcceptsExactlyTheValidSignatures) {
    const json::Value doc = load_json("wycheproof/" + GetParam().name);

    std::size_t total = 0, valid = 0, acceptable = 0;
    for (const json::Value& group : elements(member(doc, "testGroups"))) {
        const json::Value& jwk = member(group, "keyJwk");
        Bytes n = b64_of(jwk, "n"), e = b64_of(jwk, "e");
        for (const json::Value& test : elements(member(group, "tests"))) {
            ++total;
            std::string result = text_of(test, "result");
            Bytes message = from_hex(text_of(test, "msg")), sig = from_hex(text_of(test, "sig"));
            // "acceptable" cases (a DigestInfo without its NULL parameters) are refused.
            EXPECT_EQ(verify_rs256(n, e, message, sig).has_value(), result == "valid")
                << GetParam().name << " tcId " << *member(test, "tcId").as_unsigned() << " ("
                << result << "): " << text_of(test, "comment");
            valid += result == "valid";
            acceptable += result == "acceptable";
            if (result != "valid") continue;
            // The signature must be exactly as long as the modulus: no zero added or removed.
            Bytes longer = sig, shorter(sig.begin() + 1, sig.end());
            longer.insert(longer.begin(), 0x00);
            EXPECT_FALSE(verify_rs256(n, e, message, longer));
            EXPECT_FALSE(verify_rs256(n, e, message, shorter));
        }
    }
    EXPECT_EQ(total, GetParam().tests);
    std::cout << GetParam().name << ": " << total << " vectors, " << valid << " valid, "
              << acceptable << " acceptable (refused)\n";
}

INSTANTIATE_TEST_SUITE_P(Files, Rs256Wycheproof,
                         testing::Values(VectorFile{"rsa_signature_2048_sha256_test.json", 259},
                                         VectorFile{"rsa_signature_3072_sha256_test.json", 259},
                                         VectorFile{"rsa_signature_4096_sha256_test.json", 258}),
                         [](const auto& info) { return info.param.name.substr(14, 4); });

}  // namespace
}  // namespace vesk
