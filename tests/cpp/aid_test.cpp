#include "vesk/core/aid.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

const std::string k43(43, 'A');
const std::string kId43 = "O2onvM62pC1io6jQKm8Nc2UyFXcd4kOmOsBIoYtZ2ik";  // some 32 bytes
const std::string kP256Id = "Aw" + std::string(42, 'A');                  // tag 0x03

// Each rule in its order: the prefix, the method, the length, the alphabet.
TEST(Aid, ParseFollowsTheRuleOrder) {
    const std::pair<std::string, std::string> cases[] = {
        {"aid:pubkey:" + kId43, "ok"},
        {"aid:pubkey:ed25519:" + kId43, "ok"},
        {"aid:pubkey:p256:" + kP256Id, "ok"},
        {"aid:pubkey:p256:" + k43, "AID identifier must be exactly 44 characters; got 43"},
        {"aid:pubkey:ed25519:" + kP256Id, "AID identifier must be exactly 43 characters; got 44"},
        {"aid:pubkey:", "AID identifier must be exactly 43 characters; got 0"},
        {"aid:pubkey", "AID method 'pubkey' is not supported in v0.1; expected 'pubkey'"},
        {"aid:", "AID method '' is not supported in v0.1; expected 'pubkey'"},
        {"aid:web:example.com", "AID method 'web' is not supported in v0.1; expected 'pubkey'"},
        {"aid:pubkey:secp256k1:" + k43,
         "AID method 'pubkey:secp256k1' is not supported in v0.1; expected 'pubkey'"},
        {"aid:pubkey:ed25519", "AID identifier must be exactly 43 characters; got 7"},
        {"AID:pubkey:" + k43, "AID does not start with 'aid:'"},
        {"", "AID does not start with 'aid:'"},
        {"aid", "AID does not start with 'aid:'"},
        {"aid:pubkey:p256:B" + std::string(43, 'A'),  // uncompressed-point tag 4
         "AID identifier contains non-base64url characters"},
        {"aid:pubkey:p256:" + std::string(44, 'A'),  // tag 0
         "AID identifier contains non-base64url characters"},
        {"aid:pubkey:" + std::string(42, 'A') + "=",
         "AID identifier contains non-base64url characters"},
        {"aid:pubkey:" + std::string(42, 'A') + "B",  // non-zero unused bits
         "AID identifier contains non-base64url characters"},
        // The alphabet is checked before the length is decisive only within the right length.
        {"aid:pubkey:" + std::string(10, '='),
         "AID identifier must be exactly 43 characters; got 10"},
    };
    for (const auto& [text, expected] : cases) {
        auto aid = Aid::parse(text);
        EXPECT_EQ(aid ? "ok" : aid.error().text(), expected) << text;
    }
}

}  // namespace
}  // namespace vesk
