#include "vesk/core/aid.h"

#include <gtest/gtest.h>

#include "vesk/core/fault.h"

namespace vesk {
namespace {

const std::string k43(43, 'A');
const std::string kId43 = "O2onvM62pC1io6jQKm8Nc2UyFXcd4kOmOsBIoYtZ2ik";  // some 32 bytes
const std::string kP256Id = "Aw" + std::string(42, 'A');                  // tag 0x03

std::string parse_result(const std::string& text) {
    auto aid = Aid::parse(text);
    return aid ? "ok" : aid.error().text();
}

struct AidCase {
    std::string input;
    std::string expected;  // "ok" or the error text
};

class AidParse : public testing::TestWithParam<AidCase> {};

TEST_P(AidParse, FollowsTheRuleOrder) {
    EXPECT_EQ(parse_result(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AidParse,
    testing::Values(
        AidCase{"aid:pubkey:" + kId43, "ok"}, AidCase{"aid:pubkey:ed25519:" + kId43, "ok"},
        AidCase{"aid:pubkey:" + k43, "ok"}, AidCase{"aid:pubkey:p256:" + kP256Id, "ok"},
        AidCase{"aid:pubkey:p256:" + k43, "AID identifier must be exactly 44 characters; got 43"},
        AidCase{"aid:pubkey:ed25519:" + kP256Id,
                "AID identifier must be exactly 43 characters; got 44"},
        AidCase{"aid:pubkey:", "AID identifier must be exactly 43 characters; got 0"},
        AidCase{"aid:pubkey", "AID method 'pubkey' is not supported in v0.1; expected 'pubkey'"},
        AidCase{"aid:", "AID method '' is not supported in v0.1; expected 'pubkey'"},
        AidCase{"aid:web:example.com",
                "AID method 'web' is not supported in v0.1; expected 'pubkey'"},
        AidCase{"aid:pubkey:secp256k1:" + k43,
                "AID method 'pubkey:secp256k1' is not supported in v0.1; expected 'pubkey'"},
        AidCase{"aid:pubkey:ed25519", "AID identifier must be exactly 43 characters; got 7"},
        AidCase{"AID:pubkey:" + k43, "AID does not start with 'aid:'"},
        AidCase{"", "AID does not start with 'aid:'"},
        AidCase{"aid", "AID does not start with 'aid:'"},
        AidCase{"aid:pubkey:p256:B" + std::string(43, 'A'),  // uncompressed-point tag 4
                "AID identifier contains non-base64url characters"},
        AidCase{"aid:pubkey:p256:" + std::string(44, 'A'),  // tag 0
                "AID identifier contains non-base64url characters"},
        AidCase{"aid:pubkey:" + std::string(42, 'A') + "=",
                "AID identifier contains non-base64url characters"},
        AidCase{"aid:pubkey:" + std::string(42, 'A') + "+",
                "AID identifier contains non-base64url characters"},
        AidCase{"aid:pubkey:" + std::string(42, 'A') + "B",  // non-zero unused bits
                "AID identifier contains non-base64url characters"},
        // The alphabet is checked before the length is decisive only within the right length.
        AidCase{"aid:pubkey:" + std::string(10, '='),
                "AID identifier must be exactly 43 characters; got 10"}));

TEST(Aid, TwoEd25519FormsShareTheKeyButDiffer) {
    auto short_form = *Aid::parse("aid:pubkey:" + kId43);
    auto explicit_form = *Aid::parse("aid:pubkey:ed25519:" + kId43);
    EXPECT_NE(short_form, explicit_form);
    EXPECT_EQ(short_form.algorithm(), Algorithm::Ed25519);
    EXPECT_EQ(explicit_form.algorithm(), Algorithm::Ed25519);
    EXPECT_EQ(short_form.ed25519_key_bytes(), explicit_form.ed25519_key_bytes());
    EXPECT_EQ(explicit_form.as_str(), "aid:pubkey:ed25519:" + kId43);
    EXPECT_FALSE(short_form.p256_key_bytes());
    EXPECT_EQ(short_form.public_key_bytes().size(), 32u);
}

TEST(Aid, P256AccessorsAndWriters) {
    auto aid = *Aid::parse("aid:pubkey:p256:" + kP256Id);
    EXPECT_EQ(aid.algorithm(), Algorithm::P256);
    EXPECT_FALSE(aid.ed25519_key_bytes());
    auto key = *aid.p256_key_bytes();
    EXPECT_EQ(key[0], 0x03);
    EXPECT_EQ(Aid::from_p256(key), aid);
    EXPECT_EQ(aid.public_key_bytes(), Bytes(key.begin(), key.end()));
}

TEST(Aid, WritesTheShortEd25519Form) {
    std::array<std::uint8_t, 32> zero{};
    EXPECT_EQ(Aid::from_ed25519(zero).as_str(), "aid:pubkey:" + k43);
}

struct Holder {
    Aid agent_id;
};
constexpr auto describe_json(std::type_identity<Holder>) {
    return json::record("struct Holder", json::member("agent_id", &Holder::agent_id));
}

TEST(Aid, ReadsAndWritesAsAJsonString) {
    const std::string text = R"({"agent_id":"aid:pubkey:ed25519:)" + kId43 + R"("})";
    auto holder = json::from_json<Holder>(text);
    ASSERT_TRUE(holder) << holder.error().text();
    EXPECT_EQ(holder->agent_id.as_str(), "aid:pubkey:ed25519:" + kId43);
    EXPECT_EQ(json::to_json(*holder), text);
    EXPECT_EQ(json::from_json<Holder>(R"({"agent_id":"aid:x"})").error().text(),
              "AID method 'x' is not supported in v0.1; expected 'pubkey' at line 1 column 19");
    json::Object parsed;
    parsed.append_new("agent_id", "nope");
    EXPECT_EQ(json::from_value<Holder>(parsed).error().text(), "AID does not start with 'aid:'");
}

}  // namespace
}  // namespace vesk
