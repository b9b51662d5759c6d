#include "vesk/crypto/rsa.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "vesk/core/base64url.h"
#include "vesk/core/json_reader.h"

namespace vesk {
namespace {

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// A freshly generated key pair, its public components and one RS256 signature.
struct Signed {
    Bytes n, e, message, signature;
};

Bytes component(EVP_PKEY* key, const char* name) {
    BIGNUM* bn = nullptr;
    EVP_PKEY_get_bn_param(key, name, &bn);
    Bytes out(static_cast<std::size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_free(bn);
    return out;
}

Signed sign_with_new_key(std::size_t bits, unsigned exponent = 65537) {
    PkeyPtr key(nullptr, &EVP_PKEY_free);
    {
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
            EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr), &EVP_PKEY_CTX_free);
        BIGNUM* e = BN_new();
        BN_set_word(e, exponent);
        EVP_PKEY* raw = nullptr;
        EVP_PKEY_keygen_init(ctx.get());
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits));
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e);
        EVP_PKEY_generate(ctx.get(), &raw);
        BN_free(e);
        key.reset(raw);
    }
    Signed out{component(key.get(), OSSL_PKEY_PARAM_RSA_N),
               component(key.get(), OSSL_PKEY_PARAM_RSA_E),
               Bytes{'h', 'e', 'l', 'l', 'o'},
               {}};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    EVP_DigestSignInit_ex(md.get(), nullptr, "SHA256", nullptr, nullptr, key.get(), nullptr);
    std::size_t length = 0;
    EVP_DigestSign(md.get(), nullptr, &length, out.message.data(), out.message.size());
    out.signature.resize(length);
    EVP_DigestSign(md.get(), out.signature.data(), &length, out.message.data(), out.message.size());
    return out;
}

std::string outcome(const std::expected<void, RsaError>& result) {
    return result ? "ok" : result.error().text();
}

const std::string kInvalid = "RSA signature verification failed";

class Rs256ByKeySize : public testing::TestWithParam<std::size_t> {};

TEST_P(Rs256ByKeySize, AcceptsItsOwnSignatureAndRefusesAnyChange) {
    Signed s = sign_with_new_key(GetParam());
    auto key = RsaPublicKey::from_components(s.n, s.e);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->modulus_bits(), GetParam());
    EXPECT_EQ(outcome(key->verify_rs256(s.message, s.signature)), "ok");

    Bytes other_message = s.message;
    other_message.back() ^= 1;
    Bytes flipped = s.signature;
    flipped[flipped.size() / 2] ^= 0x10;
    Bytes short_sig(s.signature.begin() + 1, s.signature.end());
    Bytes long_sig = s.signature;
    long_sig.insert(long_sig.begin(), 0x00);
    for (auto [message, signature] : {std::pair{other_message, s.signature},
                                      {s.message, flipped},
                                      {s.message, short_sig},
                                      {s.message, long_sig},
                                      {s.message, s.n},  // the modulus itself is out of range
                                      {Bytes{}, s.signature}}) {
        EXPECT_EQ(outcome(key->verify_rs256(message, signature)), kInvalid)
            << "signature of " << signature.size() << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Rs256ByKeySize, testing::Values(2048, 3072, 4096));

TEST(Rs256, VerifiesWithTheSmallestAcceptedExponent) {
    Signed s = sign_with_new_key(2048, 3);
    EXPECT_EQ(outcome(verify_rs256(s.n, s.e, s.message, s.signature)), "ok");
}

// An odd number of exactly `bits` bits, as minimal big-endian bytes.
Bytes odd_modulus(std::size_t bits) {
    Bytes n((bits + 7) / 8, 0xa5);
    n[0] = static_cast<std::uint8_t>(1u << ((bits - 1) % 8));
    n.back() |= 1;
    return n;
}

TEST(RsaPublicKey, RefusesModuliOutsideTheAcceptedForms) {
    const Bytes e{0x01, 0x00, 0x01};
    Bytes leading_zero = odd_modulus(2048);
    leading_zero.insert(leading_zero.begin(), 0x00);
    Bytes even = odd_modulus(2048);
    even.back() ^= 1;
    struct Case {
        Bytes n;
        std::string text;
    };
    const std::string size = "RSA modulus must be 2048 to 8192 bits long";
    for (const Case& c : {
             Case{{}, "RSA modulus must be a big-endian integer without leading zero bytes"},
             Case{leading_zero,
                  "RSA modulus must be a big-endian integer without leading zero bytes"},
             Case{even, "RSA modulus must be odd"},
             Case{odd_modulus(1024), size},
             Case{odd_modulus(2047), size},
             Case{odd_modulus(8193), size},
         }) {
        auto key = RsaPublicKey::from_components(c.n, e);
        ASSERT_FALSE(key) << c.n.size() << " bytes";
        EXPECT_EQ(key.error().text(), c.text);
    }
    for (std::size_t bits : {2048, 2049, 8191, 8192}) {
        auto key = RsaPublicKey::from_components(odd_modulus(bits), e);
        ASSERT_TRUE(key) << bits;
        EXPECT_EQ(key->modulus_bits(), bits);
    }
}

TEST(RsaPublicKey, TakesOnlyOddExponentsFrom3To2Pow33Minus1) {
    const Bytes n = odd_modulus(2048);
    for (const Bytes& e :
         {Bytes{0x03}, Bytes{0x01, 0x00, 0x01}, Bytes{0x01, 0xff, 0xff, 0xff, 0xff}}) {
        EXPECT_TRUE(RsaPublicKey::from_components(n, e)) << b64u_encode(e);
    }
    for (const Bytes& e :
         {Bytes{}, Bytes{0x01}, Bytes{0x02}, Bytes{0x00, 0x03}, Bytes{0x01, 0x00, 0x00},
          Bytes{0x02, 0x00, 0x00, 0x00, 0x01}, Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x01}}) {
        auto key = RsaPublicKey::from_components(n, e);
        ASSERT_FALSE(key) << b64u_encode(e);
        EXPECT_EQ(key.error().kind, RsaError::Kind::Exponent);
    }
}

// Wycheproof RSASSA-PKCS1-v1_5 SHA-256 vectors, keys taken from their JWK form.
struct VectorFile {
    std::string name;
    std::size_t tests;
};

class Rs256Wycheproof : public testing::TestWithParam<VectorFile> {};

Bytes from_hex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

const json::Value& member(const json::Value& value, std::string_view name) {
    static const json::Value null;
    const json::Value* found = value.as_object() ? value.as_object()->find(name) : nullptr;
    if (!found) ADD_FAILURE() << "missing member " << name;
    return found ? *found : null;
}

std::string text_of(const json::Value& value, std::string_view name) {
    const std::string* text = member(value, name).as_string();
    return text ? *text : "";
}

Bytes b64_of(const json::Value& value, std::string_view name) {
    auto bytes = b64u_decode(text_of(value, name));
    if (!bytes) ADD_FAILURE() << name << " is not base64url";
    return bytes.value_or(Bytes{});
}

TEST_P(Rs256Wycheproof, AcceptsExactlyTheValidSignatures) {
    std::ifstream file(std::string(VESK_TESTDATA_DIR) + "/wycheproof/" + GetParam().name);
    std::stringstream content;
    content << file.rdbuf();
    auto doc = json::parse(content.str());
    ASSERT_TRUE(doc) << GetParam().name;

    std::size_t total = 0, valid = 0, acceptable = 0;
    for (const json::Value& group : *member(*doc, "testGroups").as_array()) {
        const json::Value& jwk = member(group, "keyJwk");
        Bytes n = b64_of(jwk, "n"), e = b64_of(jwk, "e");
        for (const json::Value& test : *member(group, "tests").as_array()) {
            ++total;
            std::string result = text_of(test, "result");
            bool accepted =
                verify_rs256(n, e, from_hex(text_of(test, "msg")), from_hex(text_of(test, "sig")))
                    .has_value();
            // "acceptable" cases (a DigestInfo without its NULL parameters) are refused.
            EXPECT_EQ(accepted, result == "valid")
                << GetParam().name << " tcId " << *member(test, "tcId").as_unsigned() << " ("
                << result << "): " << text_of(test, "comment");
            valid += result == "valid";
            acceptable += result == "acceptable";
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
