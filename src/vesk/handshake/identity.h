// Identity in the two opening messages: proof-of-possession nonces, the own identity block
// (a pinned-key signature or a caller-minted OIDC token) and the check of a peer's block
// against its envelope and Manifest.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>
#include <variant>

#include "vesk/core/url.h"
#include "vesk/core/uuid.h"
#include "vesk/crypto/keys.h"
#include "vesk/handshake/envelope.h"
#include "vesk/handshake/error.h"
#include "vesk/handshake/messages.h"
#include "vesk/handshake/session.h"
#include "vesk/manifest/model.h"

namespace vesk::handshake {

// 16 random bytes as 22 base64url characters.
std::string generate_pop_nonce();

// The bytes a pinned-key proof signs (through their SHA-256): a domain tag, the prover's and
// the verifier's AID texts, the envelope's message id and timestamp, and the decoded nonce,
// separated by zero bytes.
std::expected<Bytes, HandshakeError> pinned_key_signing_input(std::string_view prover_aid,
                                                              std::string_view verifier_aid,
                                                              const Uuid& message_id,
                                                              std::int64_t timestamp,
                                                              std::string_view pop_nonce);

// Mints an identity token for a nonce: the token text, or why it could not.
using MintJwtFn = std::function<std::expected<std::string, std::string>(std::string_view nonce)>;

// The own identity, ready to be proved.
struct PinnedKeyPreparation {
    std::string subject;
};
struct OidcPreparation {
    Url issuer;
    std::string subject;
    MintJwtFn mint_jwt;
};
using OwnIdentityPreparation = std::variant<PinnedKeyPreparation, OidcPreparation>;

struct PrepareError {
    enum class Kind {
        MissingCallable,  // malformed input: the caller must supply a minter
        MissingIssuer,
        IssuerNotUrl,  // url: the parser's error
    };
    Kind kind;
    UrlError url{};

    std::string text() const;
};

// By the own identity type; a minter given to a pinned-key agent is dropped unused.
std::expected<OwnIdentityPreparation, PrepareError> prepare_oidc_identity(
    const OwnIdentity& identity, std::optional<MintJwtFn> mint_jwt);

// Where the block will travel: the proof is bound to these.
struct ProofContext {
    std::string_view prover_aid;
    std::string_view verifier_aid;
    const Uuid& message_id;
    std::string_view pop_nonce;
    std::int64_t timestamp;
};

std::expected<IdentityDescriptor, HandshakeError> build_identity_proof(
    const OwnIdentityPreparation& preparation, const ProofContext& context, const SigningKey& key);

std::expected<void, HandshakeError> verify_pinned_key_identity(
    const IdentityDescriptor& identity, const Aid& prover, const Aid& verifier,
    const Uuid& message_id, std::string_view pop_nonce, std::int64_t timestamp);

// Checks the sender against the Manifest, the Manifest itself, and the identity block; returns
// the key of the Manifest's AID.
std::expected<VerifyingKey, HandshakeError> verify_peer_identity(
    const VeskEnvelope& envelope, const manifest::Manifest& peer_manifest,
    const IdentityDescriptor& identity, std::string_view pop_nonce,
    const SessionSettings& settings);

}  // namespace vesk::handshake
