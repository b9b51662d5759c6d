#include "vesk/handshake/envelope.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tct_support.h"
#include "test_data.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"

namespace vesk::handshake {
namespace {

using namespace vesk::testing;

const Uuid kId = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");

json::Value parsed(std::string_view text) {
    auto value = json::parse(text);
    if (!value) ADD_FAILURE() << value.error().text();
    return *value;
}

VeskEnvelope signed_envelope(const SigningKey& key, std::string_view payload,
                             std::int64_t timestamp = 1700000000) {
    auto envelope = VeskEnvelope::new_signed_with(key, MessageType::MutualHello, parsed(payload),
                                                  kId, timestamp);
    if (!envelope) ADD_FAILURE() << envelope.error().text();
    return *envelope;
}

TEST(Envelope, SigningInputCoversIdTimeSenderAndCanonicalPayloadHash) {
    for (auto key : {ed25519_key(3), p256_key(5)}) {
        VeskEnvelope envelope = signed_envelope(*key, R"({"b":[1,"x"],"a":{"d":null,"c":true}})");
        const std::string canonical = R"({"a":{"c":true,"d":null},"b":[1,"x"]})";
        EXPECT_EQ(*envelope.signing_input(), "0f8fad5b-d9cb-469f-a165-70867728950e|1700000000|" +
                                                 key->aid().as_str() + "|" +
                                                 lower_hex(sha256(canonical)));
        EXPECT_EQ(envelope.sender.agent_id, key->aid().as_str());
        EXPECT_EQ(envelope.version, "vesk/0.2");
        EXPECT_FALSE(envelope.extensions);
        EXPECT_TRUE(verify_signature_text(key->verifying_key(), sha256(*envelope.signing_input()),
                                          envelope.signature));
        if (key->algorithm() == Algorithm::P256) {
            EXPECT_TRUE(envelope.signature.starts_with("p256."));
        } else {
            EXPECT_EQ(envelope.signature.size(), 86u);
        }
    }
}

TEST(Envelope, PayloadIsHashedCanonicallyButWrittenAsGiven) {
    auto key = ed25519_key(3);
    VeskEnvelope ab = signed_envelope(*key, R"({"a":1,"b":2})");
    VeskEnvelope ba = signed_envelope(*key, R"({"b":2,"a":1})");
    EXPECT_EQ(*ab.signing_input(), *ba.signing_input());
    EXPECT_NE(ba.serialize().find(R"("payload":{"b":2,"a":1})"), std::string::npos);

    // Integers beyond 2^53 enter the hash as their double value.
    VeskEnvelope big = signed_envelope(*key, R"({"n":9007199254740993})");
    VeskEnvelope rounded = signed_envelope(*key, R"({"n":9007199254740992})");
    EXPECT_EQ(*big.signing_input(), *rounded.signing_input());
    EXPECT_NE(big.serialize().find("9007199254740993"), std::string::npos);

    VeskEnvelope past = signed_envelope(*key, "{}", -42);
    EXPECT_NE(past.signing_input()->find("|-42|"), std::string::npos);
}

TEST(Envelope, SigningInputChangesWithCoveredMembersOnly) {
    const VeskEnvelope original = signed_envelope(*p256_key(5), R"({"grants":["read"]})");
    struct Case {
        const char* what;
        void (*change)(VeskEnvelope&);
        bool still_valid;
    } cases[] = {
        {"payload", [](VeskEnvelope& e) { e.payload = parsed(R"({"grants":["write"]})"); }, false},
        {"message_id", [](VeskEnvelope& e) { e.message_id = Uuid::new_v4(); }, false},
        {"timestamp", [](VeskEnvelope& e) { ++e.timestamp; }, false},
        {"sender", [](VeskEnvelope& e) { e.sender.agent_id = ed25519_key(3)->aid().as_str(); },
         false},
        {"version", [](VeskEnvelope& e) { e.version = "vesk/9"; }, true},
        {"message_type", [](VeskEnvelope& e) { e.message_type = MessageType::Error; }, true},
        {"extensions",
         [](VeskEnvelope& e) {
             e.extensions = json::Extensions{{"x", 1}};
         },
         true},
    };
    for (const Case& c : cases) {
        VeskEnvelope envelope = original;
        c.change(envelope);
        EXPECT_EQ(*envelope.signing_input() == *original.signing_input(), c.still_valid) << c.what;
    }
}

TEST(Envelope, WrittenFormRoundTrips) {
    VeskEnvelope envelope = signed_envelope(*ed25519_key(3), R"({"z":1,"a":[]})");
    const std::string text = envelope.serialize();
    EXPECT_TRUE(text.starts_with(
        R"({"version":"vesk/0.2","message_type":"mutual_hello","message_id":"0f8fad5b-d9cb-469f-)"
        R"(a165-70867728950e","timestamp":1700000000,"sender":{"agent_id":")" +
        envelope.sender.agent_id + R"("},"payload":{"z":1,"a":[]},"signature":")"))
        << text;
    EXPECT_EQ(text.find("extensions"), std::string::npos);
    auto back = VeskEnvelope::deserialize(text);
    ASSERT_TRUE(back) << back.error().text();
    EXPECT_EQ(*back, envelope);
}

// An envelope's members as JSON text; `id`, `type` and `extra` replace parts of it.
std::string envelope_text(const std::string& extra = "", const std::string& id = kId.to_string(),
                          const std::string& type = R"("mutual_commit")") {
    return R"({"version":"vesk/0.2","message_type":)" + type + R"(,"message_id":")" + id +
           R"(","timestamp":5,"sender":{"agent_id":"a"},"payload":{"k":[1]},)" + extra +
           R"("signature":"s"})";
}

TEST(Envelope, StrictReading) {
    const std::string eight_names =
        "expected one of `version`, `message_type`, `message_id`, `timestamp`, `sender`, "
        "`payload`, `extensions`, `signature`";
    struct Case {
        std::string text;
        std::string error;  // empty: reads
    } cases[] = {
        {envelope_text(R"("nonce":1,)"), "unknown field `nonce`, " + eight_names},
        {envelope_text("", kId.to_string(), R"("MUTUAL_HELLO")"),
         "unknown variant `MUTUAL_HELLO`, expected one of `mutual_hello`, `mutual_hello_ack`, "
         "`mutual_commit`, `mutual_commit_ack`, `tct`, `pop_challenge`, `pop_response`, "
         "`error`"},
        {envelope_text("", "not-a-uuid"),
         "UUID parsing failed: invalid character: found `n` at 1 at line 1 column "},
        {R"(["vesk/0.2","tct",")" + kId.to_string() + R"(",5,["a"],null,null])",
         "invalid length 7, expected struct VeskEnvelope with 8 elements"},
        {R"({"version":"v","message_type":"tct","message_id":")" + kId.to_string() +
             R"(","timestamp":1,"sender":{"agent_id":"a","x":1},"payload":1,"signature":"s"})",
         "unknown field `x`, expected `agent_id`"},
        {envelope_text("", kId.to_string(), R"({"error":null})"), ""},
        {R"(["vesk/0.2","tct",")" + kId.to_string() + R"(",5,["a"],null,null,"s"])", ""},
    };
    for (const Case& c : cases) {
        auto read = VeskEnvelope::deserialize(c.text);
        if (c.error.empty()) {
            EXPECT_TRUE(read) << c.text << "\n  gave: " << read.error().text();
        } else {
            ASSERT_FALSE(read) << c.text;
            EXPECT_TRUE(read.error().text().starts_with(c.error))
                << c.text << "\n  gave: " << read.error().text();
        }
    }
}

TEST(Envelope, ReadingNormalisesTheIdentifierAndKeepsEmptyExtensions) {
    auto read = VeskEnvelope::deserialize(
        envelope_text(R"("extensions":{},)", "0F8FAD5BD9CB469FA16570867728950E"));
    ASSERT_TRUE(read) << read.error().text();
    EXPECT_EQ(read->message_id, kId);
    EXPECT_EQ(read->serialize(), envelope_text(R"("extensions":{},)"));
    read = VeskEnvelope::deserialize(envelope_text(R"("extensions":null,)"));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->serialize(), envelope_text());
}

}  // namespace
}  // namespace vesk::handshake
