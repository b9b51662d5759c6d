#include <gtest/gtest.h>

#include <string>

#include "handshake_support.h"
#include "vesk/core/json_reader.h"
#include "vesk/core/json_write.h"
#include "vesk/handshake/envelope.h"
#include "vesk/handshake/error.h"
#include "vesk/handshake/messages.h"

namespace vesk::handshake {
namespace {

json::Value parsed(std::string_view text) {
    auto value = json::parse(text);
    if (!value) ADD_FAILURE() << value.error().text();
    return *value;
}

std::string member_names(const json::Value& value) {
    std::string out;
    for (const auto& [name, _] : *value.as_object()) out.append(name).append(",");
    return out;
}

IdentityDescriptor pinned_block() {
    return {IdentityType::PinnedKey, {}, "subject", "proof", "key", {}};
}

TEST(HandshakeMessages, WritersKeepDeclaredOrderAndLeaveAbsentMembersOut) {
    EXPECT_EQ(json::write_compact(json::to_value(pinned_block())),
              R"({"type":"pinned_key","subject":"subject","proof":"proof","public_key":"key"})");
    IdentityDescriptor oidc{IdentityType::Oidc, "https://issuer.example/", "s", "jwt", {}, {}};
    EXPECT_EQ(json::write_compact(json::to_value(oidc)),
              R"({"type":"oidc","issuer":"https://issuer.example/","subject":"s","proof":"jwt"})");

    MutualCommitPayload commit{"tct", {}, "sig", "nonce", {}};
    EXPECT_EQ(json::write_compact(json::to_value(commit)),
              R"({"tct":"tct","pop_signature":"sig","pop_nonce_echo":"nonce"})");
    commit.grant_voucher = "voucher";
    EXPECT_EQ(member_names(json::to_value(commit)),
              "tct,grant_voucher,pop_signature,pop_nonce_echo,");

    auto agent = testing::make_agent(testing::ed25519_key(1));
    MutualHelloAckPayload ack{pinned_block(), agent.manifest, {"b", "a", "b"}, "n1", "n0", {}};
    json::Value written = json::to_value(ack);
    EXPECT_EQ(member_names(written),
              "identity,manifest,requested_grants,pop_nonce,pop_nonce_echo,");
    // What is written reads back as the same record.
    EXPECT_EQ(json::from_value<MutualHelloAckPayload>(written), ack);
}

struct ReadCase {
    const char* name;
    const char* commit_payload;
    const char* error;  // empty: reads
};

TEST(HandshakeMessages, CommitReaderRules) {
    const ReadCase cases[] = {
        {"null voucher is absent",
         R"({"tct":"t","grant_voucher":null,"pop_signature":"s","pop_nonce_echo":"n"})", ""},
        {"positional form", R"(["t",null,"s","n",null])", ""},
        {"extensions kept",
         R"({"tct":"t","pop_signature":"s","pop_nonce_echo":"n","extensions":{"z":1,"a":[]}})", ""},
        {"missing echo", R"({"tct":"t","pop_signature":"s"})", "missing field `pop_nonce_echo`"},
        {"unknown member", R"({"tct":"t","pop_signature":"s","pop_nonce_echo":"n","extra":1})",
         "unknown field `extra`, expected one of `tct`, `grant_voucher`, `pop_signature`, "
         "`pop_nonce_echo`, `extensions`"},
        {"not an object", R"("text")",
         "invalid type: string \"text\", expected struct MutualCommitPayload"},
    };
    for (const ReadCase& c : cases) {
        auto read = json::from_value<MutualCommitPayload>(parsed(c.commit_payload));
        if (*c.error == '\0') {
            ASSERT_TRUE(read) << c.name << ": " << read.error().text();
            EXPECT_FALSE(read->grant_voucher) << c.name;
        } else {
            ASSERT_FALSE(read) << c.name;
            EXPECT_EQ(read.error().text(), c.error) << c.name;
        }
    }
    auto with_ext = json::from_value<MutualCommitPayload>(parsed(cases[2].commit_payload));
    EXPECT_EQ(
        json::write_compact(json::to_value(*with_ext)),
        R"({"tct":"t","pop_signature":"s","pop_nonce_echo":"n","extensions":{"a":[],"z":1}})");
}

TEST(HandshakeMessages, IdentityTypeReading) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"type":"pinned_key","subject":"s","proof":"p"})", ""},
        {R"({"type":{"oidc":null},"subject":"s","proof":"p"})", ""},
        {R"({"type":"x509","subject":"s","proof":"p"})",
         "unknown variant `x509`, expected `oidc` or `pinned_key`"},
    };
    for (const auto& [text, error] : cases) {
        auto read = json::from_value<IdentityDescriptor>(parsed(text));
        if (*error == '\0') {
            EXPECT_TRUE(read) << text << ": " << read.error().text();
        } else {
            ASSERT_FALSE(read) << text;
            EXPECT_EQ(read.error().text(), error);
        }
    }
}

TEST(HandshakeMessages, HelloPayloadRepeatedMemberKeepsTheLaterValue) {
    auto agent = testing::make_agent(testing::ed25519_key(2));
    MutualHelloPayload hello{pinned_block(), agent.manifest, {"read"}, "nonce", {}};
    auto envelope =
        VeskEnvelope::new_signed(*agent.key, MessageType::MutualHello, json::to_value(hello));
    ASSERT_TRUE(envelope);
    std::string text = envelope->serialize();

    // A repeated member of the payload: the later value wins, without an error.
    std::string doubled = text;
    doubled.replace(doubled.find(R"("pop_nonce":"nonce")"), 19,
                    R"("pop_nonce":"first","pop_nonce":"second")");
    auto reread = VeskEnvelope::deserialize(doubled);
    ASSERT_TRUE(reread) << reread.error().text();
    auto payload = json::from_value<MutualHelloPayload>(reread->payload);
    ASSERT_TRUE(payload) << payload.error().text();
    EXPECT_EQ(payload->pop_nonce, "second");
    EXPECT_EQ(payload->manifest, agent.manifest);
}

// A wrapped crypto error shows its own text with nothing added.
TEST(HandshakeErrors, WrappedCryptoText) {
    EXPECT_EQ(HandshakeError::from(CryptoError::verification_failed()).text(),
              "signature verification failed");
}

}  // namespace
}  // namespace vesk::handshake
