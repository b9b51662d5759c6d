#include "vesk/crypto/signature_text.h"

#include <gtest/gtest.h>

#include "test_data.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/thumbprint.h"

namespace vesk {
namespace {

const Digest kDigest = sha256(std::string_view("signing bytes"));

std::string parse_result(const std::string& text) {
    auto parsed = SignatureText::parse(text);
    return parsed ? "ok" : parsed.error().text();
}

std::string verify_result(const VerifyingKey& key, const std::string& text) {
    auto verified = verify_signature_text(key, kDigest, text);
    return verified ? "ok" : verified.error().text();
}

TEST(SignatureText, ParseChecksPaddingLengthAndAlphabet) {
    const std::string payload(86, 'A');
    struct Case {
        std::string text, expected;
    } cases[] = {
        {payload, "ok"},
        {"ed25519." + payload, "ok"},
        {"p256." + payload, "ok"},
        {payload.substr(0, 85) + "=", "signature parsing failed: padding is forbidden"},
        {"p256.=" + payload, "signature parsing failed: padding is forbidden"},
        {payload.substr(0, 85), "signature parsing failed: expected 86 payload characters, got 85"},
        {"", "signature parsing failed: expected 86 payload characters, got 0"},
        {"p256.", "signature parsing failed: expected 86 payload characters, got 0"},
        {"P256." + payload, "signature parsing failed: expected 86 payload characters, got 91"},
        {payload.substr(0, 85) + "+", "signature parsing failed: non-base64url character"},
        {"ed25519." + payload.substr(0, 85) + ".",
         "signature parsing failed: non-base64url character"},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_result(c.text), c.expected) << c.text;
}

TEST(SignatureText, SuiteFormsAndPrefixRules) {
    auto ed = SigningKey::generate_ed25519();
    auto p = SigningKey::generate_p256();
    const std::string ed_text = sign_digest_to_text(*ed, kDigest);
    const std::string p_text = sign_digest_to_text(*p, kDigest);
    EXPECT_EQ(ed_text.size(), 86u);
    EXPECT_TRUE(p_text.starts_with("p256."));

    const VerifyingKey& ed_key = ed->verifying_key();
    const VerifyingKey& p_key = p->verifying_key();
    const std::string failed = "signature verification failed";
    EXPECT_EQ(verify_result(ed_key, ed_text), "ok");
    EXPECT_EQ(verify_result(ed_key, "ed25519." + ed_text), "ok");
    EXPECT_EQ(verify_result(ed_key, "p256." + ed_text), failed);
    EXPECT_EQ(verify_result(p_key, p_text), "ok");
    EXPECT_EQ(verify_result(p_key, p_text.substr(5)), failed);
    EXPECT_EQ(verify_result(p_key, "ed25519." + p_text.substr(5)), failed);
    EXPECT_EQ(verify_result(ed_key, p_text), failed);
    EXPECT_EQ(parse_result("ed25519." + p_text.substr(5)), "ok");

    // The digest is hashed again for P-256: the signature is ES256 over the 32 digest bytes.
    auto raw = b64u_decode(p_text.substr(5));
    EXPECT_TRUE(p_key.verify(kDigest, *raw));
    EXPECT_FALSE(verify_signature_text(ed_key, sha256(std::string_view("other")), ed_text));
}

TEST(SignatureText, NonZeroUnusedBitsParseButFailVerification) {
    auto ed = SigningKey::generate_ed25519();
    std::string text = sign_digest_to_text(*ed, kDigest);
    // The last of 86 characters carries 4 unused bits; set one of them.
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    text.back() = alphabet[alphabet.find(text.back()) | 1];
    EXPECT_EQ(parse_result(text), "ok");
    EXPECT_EQ(verify_result(ed->verifying_key(), text), "signature verification failed");
}

TEST(Thumbprint, MatchesKnownValues) {
    // The RFC 8032 test key 1 as an OKP JWK, and the RFC 6979 P-256 key as an EC JWK.
    const std::pair<std::string, std::string> cases[] = {
        {"d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a",
         "kPrK_qmxVWaYVA9wwBF6Iuo3vVzz7TxHCTwXBygrS4k"},
        {"0360fed4ba255a9d31c961eb74c6356d68c049b8923b61fa6ce669622e60f29fb6",
         "DOvxvJiAdIqVWIkFt5hDtCunXLF0BV4-JGv4f-ALSm0"},
    };
    for (const auto& [key, thumbprint] : cases) {
        EXPECT_EQ(jwk_thumbprint(*VerifyingKey::from_public_bytes(test::from_hex(key))),
                  thumbprint);
    }
}

}  // namespace
}  // namespace vesk
