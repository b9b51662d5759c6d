#include "vesk/handshake/envelope.h"

#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"
#include "vesk/handshake/messages.h"

namespace vesk::handshake {
namespace {

using namespace vesk::testing;

const Uuid kId = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");

VeskEnvelope signed_envelope(const SigningKey& key, std::string_view payload,
                             std::int64_t timestamp = 1700000000) {
    auto envelope = VeskEnvelope::new_signed_with(key, MessageType::MutualHello,
                                                  json::parse(payload).value(), kId, timestamp);
    if (!envelope) ADD_FAILURE() << envelope.error().text();
    return *envelope;
}

// Integers beyond 2^53 enter the hash as their double value, but are written as given.
TEST(Envelope, SigningInputCoversIdTimeSenderAndCanonicalPayloadHash) {
    for (auto key : {ed25519_key(3), p256_key(5)}) {
        VeskEnvelope envelope = signed_envelope(
            *key, R"({"b":[1,"x"],"a":{"d":null,"c":true},"n":9007199254740993})", -42);
        const std::string canonical =
            R"({"a":{"c":true,"d":null},"b":[1,"x"],"n":9007199254740992})";
        EXPECT_EQ(*envelope.signing_input(), "0f8fad5b-d9cb-469f-a165-70867728950e|-42|" +
                                                 key->aid().as_str() + "|" +
                                                 lower_hex(sha256(canonical)));
        EXPECT_TRUE(verify_signature_text(key->verifying_key(), sha256(*envelope.signing_input()),
                                          envelope.signature));
    }
}

TEST(Envelope, WrittenFormAndItsReadingRules) {
    VeskEnvelope envelope = signed_envelope(*ed25519_key(3), R"({"z":9007199254740993,"a":[]})");
    EXPECT_EQ(envelope.serialize(),
              R"({"version":"vesk/0.2","message_type":"mutual_hello","message_id":"0f8fad5b-d9cb-)"
              R"(469f-a165-70867728950e","timestamp":1700000000,"sender":{"agent_id":")" +
                  envelope.sender.agent_id +
                  R"("},"payload":{"z":9007199254740993,"a":[]},"signature":")" +
                  envelope.signature + R"("})");

    const std::string id = kId.to_string();
    const auto with = [&](std::string_view type, std::string_view sender_extra,
                          std::string_view extra) {
        return R"({"version":"v","message_type":")" + std::string(type) + R"(","message_id":")" +
               id + R"(","timestamp":5,"sender":{"agent_id":"a")" + std::string(sender_extra) +
               R"(},"payload":1,)" + std::string(extra) + R"("signature":"s"})";
    };
    const std::pair<std::string, std::string> cases[] = {
        {with("tct", "", R"("nonce":1,)"),
         "unknown field `nonce`, expected one of `version`, `message_type`, `message_id`, "
         "`timestamp`, `sender`, `payload`, `extensions`, `signature`"},
        {with("MUTUAL_HELLO", "", ""),
         "unknown variant `MUTUAL_HELLO`, expected one of `mutual_hello`, `mutual_hello_ack`, "
         "`mutual_commit`, `mutual_commit_ack`, `tct`, `pop_challenge`, `pop_response`, "
         "`error`"},
        {with("tct", R"(,"x":1)", ""), "unknown field `x`, expected `agent_id`"},
    };
    for (const auto& [text, error] : cases) {
        const std::string read = outcome(VeskEnvelope::deserialize(text));
        EXPECT_TRUE(read.starts_with(error)) << text << "\n  gave: " << read;
    }
}

// The declarations give the written and the positional order; an unknown member names them.
TEST(HandshakeMessages, EachPayloadNamesItsMembersInWireOrder) {
    const json::Value unknown = json::parse(R"({"nonce":1})").value();
    const auto names = [&]<class Payload>(std::type_identity<Payload>) {
        return testing::outcome(json::from_value<Payload>(unknown));
    };
    const std::string expected = "unknown field `nonce`, expected one of ";
    const std::string hello = "`identity`, `manifest`, `requested_grants`, `pop_nonce`, ";
    const std::string commit = "`tct`, `grant_voucher`, `pop_signature`, `pop_nonce_echo`, ";
    EXPECT_EQ(names(std::type_identity<IdentityDescriptor>()),
              expected + "`type`, `issuer`, `subject`, `proof`, `public_key`, `extensions`");
    EXPECT_EQ(names(std::type_identity<MutualHelloPayload>()), expected + hello + "`extensions`");
    EXPECT_EQ(names(std::type_identity<MutualHelloAckPayload>()),
              expected + hello + "`pop_nonce_echo`, `extensions`");
    EXPECT_EQ(names(std::type_identity<MutualCommitPayload>()), expected + commit + "`extensions`");
    EXPECT_EQ(names(std::type_identity<MutualCommitAckPayload>()),
              expected + commit + "`extensions`");
}

}  // namespace
}  // namespace vesk::handshake
