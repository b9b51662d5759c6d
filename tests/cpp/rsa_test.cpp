#include "vesk/crypto/rsa.h"

#include <gtest/gtest.h>

#include <string>

#include "vesk/core/base64url.h"

namespace vesk {
namespace {

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

}  // namespace
}  // namespace vesk
