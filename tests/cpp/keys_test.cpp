#include "vesk/crypto/keys.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "test_data.h"
#include "vesk/crypto/thumbprint.h"

namespace vesk {
namespace {

using test::as_bytes;
using test::from_hex;

template <std::size_t N>
std::array<std::uint8_t, N> fixed(const Bytes& bytes) {
    std::array<std::uint8_t, N> out{};
    std::copy_n(bytes.begin(), N, out.begin());
    return out;
}

const std::string kRfc6979Key = "c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721";

SharedSigningKey p256_key(const std::string& hex) {
    auto key = SigningKey::from_p256_scalar(fixed<32>(from_hex(hex)));
    EXPECT_TRUE(key) << hex;
    return *key;
}

// Every line of the reference file: seed, public key, message and signature agree.
TEST(Ed25519Keys, ReferenceFileDerivesSignsAndVerifies) {
    std::istringstream file(test::read_data("ed25519/sign.input"));
    std::string line;
    int lines = 0;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string secret, public_key, message, signed_message;
        std::getline(fields, secret, ':');
        std::getline(fields, public_key, ':');
        std::getline(fields, message, ':');
        std::getline(fields, signed_message, ':');
        const Bytes msg = from_hex(message);
        auto key = SigningKey::from_ed25519_seed(fixed<32>(from_hex(secret.substr(0, 64))));
        ASSERT_EQ(lower_hex(*key->ed25519_public_key()), public_key) << "line " << lines + 1;
        EXPECT_EQ(lower_hex(key->sign(msg)), signed_message.substr(0, 128)) << "line " << lines + 1;
        EXPECT_TRUE(key->verifying_key().verify(msg, key->sign(msg))) << "line " << lines + 1;
        ++lines;
    }
    EXPECT_EQ(lines, 1024);
}

// The candidate nonce of this vector is rejected (k >= n) before a usable one is found.
TEST(P256Keys, NonceRejectionVector) {
    const std::string doc = test::read_data("rfc6979/cctv_rfc6979_p256_rejection.md");
    auto field = [&](const std::string& name) {
        std::smatch match;
        EXPECT_TRUE(std::regex_search(doc, match, std::regex("\n" + name + " = ([0-9A-F]+)")));
        std::string hex = match[1];
        for (char& c : hex) c = static_cast<char>(std::tolower(c));
        return hex;
    };
    std::smatch message;
    ASSERT_TRUE(std::regex_search(doc, message, std::regex("message = \"([^\"]+)\"")));
    auto key = p256_key(field("x"));
    EXPECT_EQ(lower_hex(*key->verifying_key().p256_uncompressed()),
              "04" + field("Ux") + field("Uy"));
    EXPECT_EQ(lower_hex(key->sign(as_bytes(message[1].str()))), field("r") + field("s"));
}

TEST(VerifyingKeys, RefuseKeysOffTheCurve) {
    // y = 2 gives no Ed25519 point; x = 1 gives no P-256 point, nor does (1, 1).
    Bytes ed(32);
    ed[0] = 2;
    Bytes p256(33);
    p256[0] = 0x02;
    p256[32] = 1;
    Bytes p256_full(65);
    p256_full[0] = 0x04;
    p256_full[32] = p256_full[64] = 1;
    auto ed_aid = Aid::from_ed25519(fixed<32>(ed));
    auto p_aid = Aid::from_p256(fixed<33>(p256));
    // Good keys of both suites known beforehand make no bad key pass, nor does asking twice.
    (void)SigningKey::from_ed25519_seed(fixed<32>(Bytes(32, 1)));
    (void)p256_key(kRfc6979Key);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(VerifyingKey::from_aid(ed_aid).error().text(),
                  "AID does not yield a valid Ed25519 public key: signature error");
        EXPECT_EQ(VerifyingKey::from_aid(p_aid).error().text(),
                  "public key parsing failed: signature error");
        for (const Bytes& bytes : {ed, p256, p256_full}) {
            EXPECT_EQ(VerifyingKey::from_public_bytes(bytes).error().text(),
                      "public key parsing failed: signature error");
        }
    }
    EXPECT_FALSE(VerifyingKey::from_public_bytes(Bytes(31)));
}

// Decoded keys are remembered per thread and in bounded number. Taken in turn, more keys than are
// remembered, in two threads, each key still accepts only its own signatures and keeps its own
// thumbprint.
TEST(VerifyingKeys, ManyKeysInTurnKeepTheirOwnSignaturesAndThumbprints) {
    std::vector<SharedSigningKey> signers;
    for (std::uint8_t seed = 1; seed <= 40; ++seed) {
        std::array<std::uint8_t, 32> bytes;
        bytes.fill(seed);
        signers.push_back(seed % 2 ? SigningKey::from_ed25519_seed(bytes)
                                   : *SigningKey::from_p256_scalar(bytes));
    }
    const auto message = as_bytes("message");
    auto check_in_turn = [&] {
        std::vector<std::string> thumbprints;
        for (int round = 0; round < 2; ++round) {
            for (std::size_t i = 0; i < signers.size(); ++i) {
                auto key = VerifyingKey::from_aid(signers[i]->aid());
                ASSERT_TRUE(key);
                EXPECT_TRUE(key->verify(message, signers[i]->sign(message)));
                const auto& other = signers[(i + 2) % signers.size()];
                EXPECT_FALSE(key->verify(message, other->sign(message)));
                if (round == 0) thumbprints.push_back(jwk_thumbprint(*key));
                EXPECT_EQ(jwk_thumbprint(*key), thumbprints[i]);
            }
        }
        EXPECT_EQ(std::set(thumbprints.begin(), thumbprints.end()).size(), signers.size());
    };
    check_in_turn();
    std::thread(check_in_turn).join();
}

TEST(VerifyingKeys, ReadSec1PointsInBothForms) {
    auto key = p256_key(kRfc6979Key);
    const auto uncompressed = *key->verifying_key().p256_uncompressed();
    auto from_full = VerifyingKey::from_public_bytes(uncompressed);
    auto from_compressed = VerifyingKey::from_public_bytes(key->verifying_key().to_bytes());
    ASSERT_TRUE(from_full && from_compressed);
    EXPECT_EQ(*from_full, key->verifying_key());
    EXPECT_EQ(*from_compressed, key->verifying_key());
    EXPECT_EQ(Aid::from_p256(fixed<33>(from_full->to_bytes())), key->aid());
    auto hybrid = Bytes(uncompressed.begin(), uncompressed.end());
    hybrid[0] = 0x06 | (hybrid[64] & 1);
    EXPECT_FALSE(VerifyingKey::from_public_bytes(hybrid));
}

}  // namespace
}  // namespace vesk
