#include <gtest/gtest.h>

#include <functional>
#include <variant>

#include "tct_support.h"
#include "vesk/core/clock.h"
#include "vesk/handshake/initiator.h"
#include "vesk/handshake/responder.h"
#include "vesk/manifest/builder.h"
#include "vesk/tokens/verify.h"

namespace vesk::handshake {
namespace {

using Grants = std::vector<std::string>;

struct Agent {
    SharedSigningKey key;
    manifest::Manifest manifest;
    std::string manifest_json;
};

Agent pinned_agent(std::uint8_t seed, std::string name, Grants offered) {
    manifest::ManifestRequest request;
    request.display_name = std::move(name);
    request.handshake_endpoint = "https://agent.example/vesk";
    request.offered_caps = std::move(offered);
    SharedSigningKey key = testing::ed25519_key(seed);
    manifest::Manifest built = *manifest::build_agent_manifest(*key, request);
    std::string json = json::to_json(manifest::ManifestEnvelope{built});
    return {key, std::move(built), std::move(json)};
}

template <class Session>
Session session_of(const Agent& agent) {
    return Session{*SessionConfig::create(agent.key, agent.manifest, std::nullopt, nullptr), {}};
}

template <class T>
T value_or_fail(std::expected<T, StepError> result) {
    if (!result) {
        ADD_FAILURE() << result.error().message;
        throw std::runtime_error("step failed");
    }
    return std::move(*result);
}

std::string message_of(const auto& result) {
    if (result) return "(success)";
    if constexpr (requires { result.error().message; }) {
        return result.error().message;
    } else {
        return result.error().text();
    }
}

// One handshake between alice (initiator) and bob (responder), stopped wherever a test likes.
class Handshake : public ::testing::Test {
  protected:
    Agent alice = pinned_agent(1, "alice", {"read", "write"});
    Agent bob = pinned_agent(2, "bob", {"search", "index"});
    Agent carol = pinned_agent(3, "carol", {"search"});
    InitiatorSession initiator = session_of<InitiatorSession>(alice);
    ResponderSession responder = session_of<ResponderSession>(bob);
    std::string hello, ack, commit, commit_ack;

    void to_ack(Grants requested = {"search", "fly"}) {
        hello = value_or_fail(build_hello(initiator, bob.manifest_json, requested, std::nullopt));
        ack = value_or_fail(process_hello(responder, hello, std::nullopt)).first;
    }
    void to_commit() {
        to_ack();
        commit = value_or_fail(process_hello_ack(initiator, ack));
    }
    void to_commit_ack() {
        to_commit();
        commit_ack = value_or_fail(process_commit(responder, commit)).first;
    }

    SessionSettings initiator_settings() const { return initiator.config.settings(unix_now()); }
    SessionSettings responder_settings() const { return responder.config.settings(unix_now()); }

    template <class Payload>
    static std::pair<VeskEnvelope, Payload> read(const std::string& text) {
        VeskEnvelope envelope = *VeskEnvelope::deserialize(text);
        Payload payload = *json::from_value<Payload>(envelope.payload);
        return {std::move(envelope), std::move(payload)};
    }
};

template <class State>
std::size_t state_index(const std::optional<State>& state) {
    return state ? state->value.index() : std::variant_npos;
}

TEST_F(Handshake, BothSidesEndHoldingWhatTheOtherIssued) {
    to_commit_ack();
    const std::string alice_holds = value_or_fail(complete(initiator, commit_ack));
    EXPECT_TRUE(std::holds_alternative<InitiatorState::Completed>(initiator.state->value));
    EXPECT_TRUE(std::holds_alternative<ResponderState::Completed>(responder.state->value));

    auto [envelope, payload] = read<MutualCommitAckPayload>(commit_ack);
    EXPECT_EQ(alice_holds, tct_envelope_json(payload.tct, payload.grant_voucher));
    const TctVerifyOptions options{
        .issuer_manifest_expires_at = bob.manifest.expires_at,
        .expected_audience = alice.key->aid(),
        .issuer = bob.key->aid(),
        .now = unix_now(),
    };
    auto verified = verify_tct_token(payload.tct, options);
    ASSERT_TRUE(verified) << verified.error().text();
    EXPECT_EQ(verified->claims.grants, Grants{"search"});
}

TEST_F(Handshake, StepsCalledOutOfOrder) {
    to_commit_ack();
    InitiatorSession fresh_initiator = session_of<InitiatorSession>(alice);
    ResponderSession fresh_responder = session_of<ResponderSession>(bob);
    EXPECT_EQ(message_of(process_hello_ack(fresh_initiator, ack)), "call build_hello() first");
    EXPECT_EQ(message_of(complete(fresh_initiator, commit_ack)), "call process_hello_ack() first");
    EXPECT_EQ(message_of(process_commit(fresh_responder, commit)), "call process_hello() first");
    // Reading comes first.
    auto unreadable = process_hello_ack(fresh_initiator, "{");
    ASSERT_FALSE(unreadable);
    EXPECT_EQ(unreadable.error().kind, StepError::Kind::Malformed);
    EXPECT_TRUE(unreadable.error().message.starts_with("invalid envelope JSON: "));

    EXPECT_EQ(message_of(process_hello_ack(initiator, ack)),
              "handshake state error: on_hello_ack out of order");
    EXPECT_EQ(message_of(process_commit(responder, commit)),
              "handshake state error: on_commit out of order");
    ASSERT_TRUE(complete(initiator, commit_ack));
    EXPECT_EQ(message_of(complete(initiator, commit_ack)),
              "handshake state error: on_commit_ack out of order");
}

using AckChange = std::function<void(VeskEnvelope&, MutualHelloAckPayload&)>;

TEST_F(Handshake, HelloAckFailuresFailTheSessionOrKeepItWaiting) {
    struct Case {
        const char* name;
        AckChange change;
        std::string text;
        bool fails_session;
    };
    const std::string other_aid = carol.key->aid().as_str();
    const std::string zero_nonce = b64u_encode(Bytes(16, 0));
    const Case cases[] = {
        {"sender", [&](auto& e, auto&) { e.sender.agent_id = other_aid; },
         "invalid envelope: HELLO_ACK sender AID does not match the intended peer", true},
        {"manifest", [&](auto&, auto& p) { p.manifest = carol.manifest; },
         "invalid envelope: HELLO_ACK manifest AID does not match the intended peer", true},
        {"echo", [&](auto&, auto& p) { p.pop_nonce_echo = zero_nonce; }, "nonce mismatch", true},
        {"identity", [&](auto&, auto& p) { p.pop_nonce = zero_nonce; },
         "identity verification failed: pinned_key signature invalid", true},
        {"no grant", [](auto&, auto& p) { p.requested_grants = {"fly"}; },
         "policy denies handshake (empty grant intersection)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        initiator.state.reset();
        to_ack();
        auto [envelope, payload] = read<MutualHelloAckPayload>(ack);
        c.change(envelope, payload);
        EXPECT_EQ(
            message_of(on_hello_ack(*initiator.state, envelope, payload, initiator_settings())),
            c.text);
        const bool failed = std::holds_alternative<InitiatorState::Failed>(initiator.state->value);
        EXPECT_EQ(failed, c.fails_session);
        // A session still waiting accepts the honest HELLO_ACK.
        EXPECT_EQ(
            message_of(process_hello_ack(initiator, ack)),
            c.fails_session ? "handshake state error: on_hello_ack out of order" : "(success)");
    }
}

TEST_F(Handshake, CommitFailuresFailTheSessionOrKeepItWaiting) {
    struct Case {
        const char* name;
        std::function<void(std::string&, MutualCommitPayload&)> change;
        std::string text;
        bool fails_session;
    };
    const std::string other_aid = carol.key->aid().as_str();
    const Case cases[] = {
        {"sender", [&](auto& sender, auto&) { sender = other_aid; },
         "invalid envelope: commit sender mismatch", true},
        {"echo", [](auto&, auto& p) { p.pop_nonce_echo = b64u_encode(Bytes(16, 0)); },
         "nonce mismatch", true},
        {"signature", [](auto&, auto& p) { p.pop_signature = testing::tampered(p.pop_signature); },
         "pop signature verification failed", false},
        {"tct", [](auto&, auto& p) { p.tct = testing::tampered(p.tct); },
         "TCT verification failed: signature verification failed", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        to_commit();
        auto [envelope, payload] = read<MutualCommitPayload>(commit);
        std::string sender = envelope.sender.agent_id;
        c.change(sender, payload);
        EXPECT_EQ(message_of(on_commit(*responder.state, sender, payload, responder_settings())),
                  c.text);
        const bool failed = std::holds_alternative<ResponderState::Failed>(responder.state->value);
        EXPECT_EQ(failed, c.fails_session);
        EXPECT_EQ(message_of(process_commit(responder, commit)),
                  c.fails_session ? "handshake state error: on_commit out of order" : "(success)");
    }
}

TEST_F(Handshake, CommitAckFailuresFailTheSessionOrKeepItWaiting) {
    struct Case {
        const char* name;
        std::function<void(std::string&, MutualCommitAckPayload&)> change;
        std::string text;
        bool fails_session;
    };
    const std::string other_aid = carol.key->aid().as_str();
    const Case cases[] = {
        {"sender", [&](auto& sender, auto&) { sender = other_aid; },
         "invalid envelope: commit_ack sender mismatch", true},
        {"echo", [](auto&, auto& p) { p.pop_nonce_echo = b64u_encode(Bytes(16, 0)); },
         "nonce mismatch", true},
        {"signature", [](auto&, auto& p) { p.pop_signature = testing::tampered(p.pop_signature); },
         "pop signature verification failed", false},
        {"voucher", [](auto&, auto& p) { p.grant_voucher = testing::tampered(*p.grant_voucher); },
         "TCT verification failed: signature verification failed", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        to_commit_ack();
        auto [envelope, payload] = read<MutualCommitAckPayload>(commit_ack);
        std::string sender = envelope.sender.agent_id;
        c.change(sender, payload);
        EXPECT_EQ(
            message_of(on_commit_ack(*initiator.state, sender, payload, initiator_settings())),
            c.text);
        const bool failed = std::holds_alternative<InitiatorState::Failed>(initiator.state->value);
        EXPECT_EQ(failed, c.fails_session);
        EXPECT_EQ(
            message_of(complete(initiator, commit_ack)),
            c.fails_session ? "handshake state error: on_commit_ack out of order" : "(success)");
    }
}

TEST_F(Handshake, AFailedHelloLeavesTheResponderAsItWas) {
    to_ack();
    auto [envelope, payload] = read<MutualHelloPayload>(hello);
    envelope.sender.agent_id = carol.key->aid().as_str();
    envelope.payload = json::to_value(payload);
    EXPECT_EQ(message_of(process_hello(responder, envelope.serialize(), std::nullopt)),
              "invalid envelope: manifest.aid does not match sender.agent_id");
    ASSERT_TRUE(std::holds_alternative<ResponderState::AwaitingCommit>(responder.state->value));
    // The earlier HELLO's handshake still completes.
    commit = value_or_fail(process_hello_ack(initiator, ack));
    EXPECT_TRUE(process_commit(responder, commit));
}

TEST_F(Handshake, TheResponderRefusesToSignAnOddSizedInitiatorNonce) {
    // The proof over the HELLO is not looked at again once the HELLO is accepted, so the stored
    // nonce is changed directly.
    to_commit();
    auto& awaiting = std::get<ResponderState::AwaitingCommit>(responder.state->value);
    awaiting.initiator_pop_nonce = b64u_encode(Bytes(32, 7));
    EXPECT_EQ(message_of(process_commit(responder, commit)),
              "invalid envelope: pop nonce must decode to exactly 16 bytes");
    EXPECT_TRUE(std::holds_alternative<ResponderState::AwaitingCommit>(responder.state->value));
}

TEST_F(Handshake, ReadingFailuresAreMalformedAndChangeNothing) {
    to_commit();
    auto [envelope, payload] = read<MutualCommitPayload>(commit);
    envelope.payload = json::Value(json::Array{});
    auto result = process_commit(responder, envelope.serialize());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, StepError::Kind::Malformed);
    EXPECT_TRUE(result.error().message.starts_with("invalid commit payload: "));
    EXPECT_TRUE(process_commit(responder, commit));
}

}  // namespace
}  // namespace vesk::handshake
