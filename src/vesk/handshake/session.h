// A handshake session: what it holds from its agent, the settings each step receives, and the
// states of the initiator's and the responder's side.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "vesk/core/url.h"
#include "vesk/crypto/keys.h"
#include "vesk/handshake/jwks.h"
#include "vesk/handshake/messages.h"
#include "vesk/manifest/model.h"

namespace vesk::handshake {

// Answers whether a peer's raw Ed25519 key is known locally. Sessions made from Python have
// none; when present it is asked after a pinned-key proof has verified.
using PinnedKeyTrustStore = std::function<bool(std::span<const std::uint8_t, 32>)>;

// What every step works with, built afresh for each call.
struct SessionSettings {
    const SigningKey& signing_key;
    const manifest::Manifest& own_manifest;
    const std::vector<std::string>& trust_anchors;
    const JwksResolver& resolver;
    const PinnedKeyTrustStore* pinned_keys;  // null: no trust store
    std::int64_t now;
};

// The agent's own identity as its Manifest declares it.
struct OwnIdentity {
    IdentityType type;
    std::string subject;
    std::optional<std::string> issuer;
};

// What a session holds besides its state: shared with the agent, fixed at creation.
struct SessionConfig {
    SharedSigningKey key;
    std::shared_ptr<const manifest::Manifest> manifest;
    std::vector<std::string> trust_anchors;
    OwnIdentity identity;
    SharedJwksResolver jwks;  // null: no key set

    // `trust_anchors` absent: the Manifest's accepted_trust_anchors as they stand. Given: each
    // entry parsed as a URL and kept as its serialisation, order and repeats kept; the first
    // that does not parse is returned.
    static std::expected<SessionConfig, UrlError> create(
        SharedSigningKey key, manifest::Manifest manifest,
        std::optional<std::vector<std::string>> trust_anchors, SharedJwksResolver jwks);

    // The settings of one step; without a key set the resolver refuses every lookup.
    SessionSettings settings(std::int64_t now) const;
};

struct InitiatorState {
    struct HelloSent {
        std::string pop_nonce;  // own nonce sent in MUTUAL_HELLO
        std::string peer_aid;   // the intended peer
    };
    struct CommitSent {
        VerifyingKey peer_key;
        std::string pop_nonce;
        std::string peer_aid;
        std::vector<std::string> peer_offered_capabilities;
        std::int64_t peer_manifest_expires_at;
    };
    struct Completed {};
    struct Failed {};

    std::variant<HelloSent, CommitSent, Completed, Failed> value;
};

struct ResponderState {
    struct AwaitingCommit {
        VerifyingKey initiator_key;
        std::string pop_nonce;            // own nonce sent in MUTUAL_HELLO_ACK
        std::string initiator_pop_nonce;  // the HELLO's nonce
        std::string initiator_aid;
        std::vector<std::string> initiator_requested_grants;
        std::vector<std::string> initiator_offered_capabilities;
        std::int64_t initiator_manifest_expires_at;
    };
    struct Completed {};
    struct Failed {};

    std::variant<AwaitingCommit, Completed, Failed> value;
};

// A session's state is absent until its first step succeeds.
struct InitiatorSession {
    SessionConfig config;
    std::optional<InitiatorState> state;
};

struct ResponderSession {
    SessionConfig config;
    std::optional<ResponderState> state;
};

}  // namespace vesk::handshake
