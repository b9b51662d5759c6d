#include "vesk/core/base64url.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

std::string decode_error(std::string_view input) {
    auto result = b64u_decode(input);
    return result ? "ok" : std::string(text(result.error()));
}

TEST(Base64Url, EncodesUnpaddedUrlSafe) {
    EXPECT_EQ(b64u_encode(std::string_view("\xfb\xff", 2)), "-_8");
    EXPECT_EQ(b64u_encode(Bytes(33)), std::string(44, 'A'));
    EXPECT_EQ(b64u_encode(Bytes{}), "");
}

TEST(Base64Url, DecoderIsStrict) {
    EXPECT_EQ(decode_error("QQ=="), "base64url padding is forbidden in VESK");
    EXPECT_EQ(decode_error("Q=Q"), "base64url padding is forbidden in VESK");
    EXPECT_EQ(decode_error("@@="), "base64url padding is forbidden in VESK");
    EXPECT_EQ(decode_error("QR"), "invalid base64url character");  // non-zero unused bits
    EXPECT_EQ(decode_error("A"), "invalid base64url character");   // impossible length
    EXPECT_EQ(decode_error("ab+c"), "invalid base64url character");
    EXPECT_EQ(decode_error("ab/c"), "invalid base64url character");
    EXPECT_EQ(decode_error("ab c"), "invalid base64url character");
    // libsodium 1.0.18 reads every byte from 0x80 up as '_': "a\xc3\xa9g" would pass for "a__g".
    EXPECT_EQ(decode_error("a\xc3\xa9g"), "invalid base64url character");
    EXPECT_EQ(*b64u_decode("QQ"), Bytes{0x41});
    EXPECT_TRUE(b64u_decode("")->empty());
}

}  // namespace
}  // namespace vesk
