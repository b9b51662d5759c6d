#include "vesk/core/base64url.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <random>

namespace vesk {
namespace {

std::string decode_error(std::string_view input) {
    auto result = b64u_decode(input);
    return result ? "ok" : std::string(text(result.error()));
}

TEST(Base64Url, EncodesUnpaddedUrlSafe) {
    EXPECT_EQ(b64u_encode(std::string_view("\xfb\xff", 2)), "-_8");
    EXPECT_EQ(b64u_encode(Bytes(16)).size(), 22u);
    EXPECT_EQ(b64u_encode(Bytes(32)).size(), 43u);
    EXPECT_EQ(b64u_encode(Bytes(33)).size(), 44u);
    EXPECT_EQ(b64u_encode(Bytes(64)).size(), 86u);
    EXPECT_EQ(b64u_encode(Bytes{}), "");
}

TEST(Base64Url, RoundTripsEveryLength) {
    for (std::size_t n = 0; n < 70; ++n) {
        Bytes bytes(n);
        for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
        auto decoded = b64u_decode(b64u_encode(bytes));
        ASSERT_TRUE(decoded) << n;
        EXPECT_EQ(*decoded, bytes) << n;
    }
}

TEST(Base64Url, DecoderIsStrict) {
    EXPECT_EQ(decode_error("QQ=="), "base64url padding is forbidden in VESK");
    EXPECT_EQ(decode_error("Q=Q"), "base64url padding is forbidden in VESK");
    EXPECT_EQ(decode_error("@@="), "base64url padding is forbidden in VESK");
    EXPECT_EQ(decode_error("QR"), "invalid base64url character");  // non-zero unused bits
    EXPECT_EQ(decode_error("Q"), "invalid base64url character");   // impossible length
    EXPECT_EQ(decode_error("ab+c"), "invalid base64url character");
    EXPECT_EQ(decode_error("ab/c"), "invalid base64url character");
    EXPECT_EQ(decode_error("ab c"), "invalid base64url character");
    // libsodium 1.0.18 reads every byte from 0x80 up as '_': "a\xc3\xa9g" would pass for "a__g".
    EXPECT_EQ(decode_error("a\xc3\xa9g"), "invalid base64url character");
    EXPECT_EQ(*b64u_decode("QQ"), Bytes{0x41});
    EXPECT_TRUE(b64u_decode("")->empty());
}

// The table decoder against libsodium's strict decoder, on short ASCII texts over an alphabet
// that mixes valid characters with near misses.
TEST(Base64Url, DecoderAgreesWithLibsodium) {
    ASSERT_GE(sodium_init(), 0);
    constexpr std::string_view pool = "AQgw_-9zZa+/= .";
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string input(1 + random() % 12, 'A');  // libsodium wants non-null buffers
        for (char& c : input) c = pool[random() % pool.size()];
        if (input.find('=') != std::string::npos) continue;
        Bytes expected(input.size());
        std::size_t written = 0;
        const bool ok =
            sodium_base642bin(expected.data(), expected.size(), input.data(), input.size(), nullptr,
                              &written, nullptr, sodium_base64_VARIANT_URLSAFE_NO_PADDING) == 0;
        expected.resize(written);
        auto decoded = b64u_decode(input);
        ASSERT_EQ(decoded.has_value(), ok) << input;
        if (ok) {
            EXPECT_EQ(*decoded, expected) << input;
        }
    }
}

}  // namespace
}  // namespace vesk
