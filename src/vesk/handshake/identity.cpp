#include "vesk/handshake/identity.h"

#include <array>
#include <utility>

#include "vesk/core/base64url.h"
#include "vesk/core/fault.h"
#include "vesk/core/random.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"
#include "vesk/handshake/oidc.h"
#include "vesk/manifest/verifier.h"

namespace vesk::handshake {
namespace {

constexpr std::string_view kPinnedKeyTag = "vesk-pinned-key-v1";

std::unexpected<HandshakeError> identity_failure(std::string text) {
    return std::unexpected(HandshakeError::identity(std::move(text)));
}

void append(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

std::string generate_pop_nonce() {
    std::array<std::uint8_t, 16> nonce;
    random_bytes(nonce);
    return b64u_encode(nonce);
}

std::expected<Bytes, HandshakeError> pinned_key_signing_input(std::string_view prover_aid,
                                                              std::string_view verifier_aid,
                                                              const Uuid& message_id,
                                                              std::int64_t timestamp,
                                                              std::string_view pop_nonce) {
    auto nonce = b64u_decode(pop_nonce);
    if (!nonce) return identity_failure("pop_nonce is not valid base64url");
    const std::string id = message_id.to_string();
    const std::string time = std::to_string(timestamp);
    Bytes out;
    out.reserve(59 + prover_aid.size() + verifier_aid.size() + time.size() + nonce->size());
    for (std::string_view field : {kPinnedKeyTag, prover_aid, verifier_aid, std::string_view(id)}) {
        append(out, field);
        out.push_back(0);
    }
    append(out, time);
    out.push_back(0);
    out.insert(out.end(), nonce->begin(), nonce->end());
    return out;
}

std::string PrepareError::text() const {
    switch (kind) {
        case Kind::MissingCallable:
            return "agent manifest is OIDC; `oidc_mint_jwt` callable is required";
        case Kind::MissingIssuer:
            return "OIDC identity_hint missing issuer (build_manifest invariant violated)";
        case Kind::IssuerNotUrl:
            return "identity_hint.issuer not a URL: " + url.text();
    }
    fault("unknown PrepareError kind");
}

std::expected<OwnIdentityPreparation, PrepareError> prepare_oidc_identity(
    const OwnIdentity& identity, std::optional<MintJwtFn> mint_jwt) {
    if (identity.type == IdentityType::PinnedKey) return PinnedKeyPreparation{identity.subject};
    if (!mint_jwt) return std::unexpected(PrepareError{PrepareError::Kind::MissingCallable});
    if (!identity.issuer) return std::unexpected(PrepareError{PrepareError::Kind::MissingIssuer});
    auto issuer = parse_url(*identity.issuer);
    if (!issuer) {
        return std::unexpected(PrepareError{PrepareError::Kind::IssuerNotUrl, issuer.error()});
    }
    return OidcPreparation{std::move(*issuer), identity.subject, std::move(*mint_jwt)};
}

std::expected<IdentityDescriptor, HandshakeError> build_identity_proof(
    const OwnIdentityPreparation& preparation, const ProofContext& context, const SigningKey& key) {
    if (const auto* oidc = std::get_if<OidcPreparation>(&preparation)) {
        auto token = oidc->mint_jwt(context.pop_nonce);
        if (!token) return identity_failure("oidc mint_jwt callback failed: " + token.error());
        return IdentityDescriptor{
            IdentityType::Oidc, oidc->issuer.href(), oidc->subject, std::move(*token), {}, {}};
    }
    const auto& pinned = std::get<PinnedKeyPreparation>(preparation);
    auto public_key = key.ed25519_public_key();
    if (!public_key) {
        return identity_failure(
            "pinned_key identity requires an Ed25519 signing key (v0.1 wire format encodes a "
            "32-byte raw public key); use OIDC identity for P-256 agents");
    }
    auto input = pinned_key_signing_input(context.prover_aid, context.verifier_aid,
                                          context.message_id, context.timestamp, context.pop_nonce);
    if (!input) return std::unexpected(input.error());
    return IdentityDescriptor{IdentityType::PinnedKey,  {},
                              pinned.subject,           sign_digest_to_text(key, sha256(*input)),
                              b64u_encode(*public_key), {}};
}

std::expected<void, HandshakeError> verify_pinned_key_identity(
    const IdentityDescriptor& identity, const Aid& prover, const Aid& verifier,
    const Uuid& message_id, std::string_view pop_nonce, std::int64_t timestamp) {
    auto aid_key = prover.ed25519_key_bytes();
    if (!aid_key) return identity_failure("pinned_key requires an Ed25519 sender AID");
    if (!identity.public_key) return identity_failure("pinned_key missing public_key");
    auto public_key = b64u_decode(*identity.public_key);
    if (!public_key) return identity_failure("public_key malformed base64url");
    if (public_key->size() != 32) return identity_failure("public_key must decode to 32 bytes");
    if (!std::ranges::equal(*public_key, *aid_key)) {
        return identity_failure("public_key does not match sender AID");
    }
    auto verifying = VerifyingKey::from_public_bytes(*public_key);
    if (!verifying) return identity_failure("public_key not Ed25519");
    auto input = pinned_key_signing_input(prover.as_str(), verifier.as_str(), message_id, timestamp,
                                          pop_nonce);
    if (!input) return std::unexpected(input.error());
    const Digest digest = sha256(*input);
    auto proof = SignatureText::parse(identity.proof);
    if (!proof) return identity_failure("proof malformed");
    if (!verify_signature_text(*verifying, digest, *proof)) {
        return identity_failure("pinned_key signature invalid");
    }
    return {};
}

std::expected<VerifyingKey, HandshakeError> verify_peer_identity(
    const VeskEnvelope& envelope, const manifest::Manifest& peer_manifest,
    const IdentityDescriptor& identity, std::string_view pop_nonce,
    const SessionSettings& settings) {
    if (envelope.sender.agent_id != peer_manifest.aid.as_str()) {
        return std::unexpected(
            HandshakeError::invalid_envelope("manifest.aid does not match sender.agent_id"));
    }
    auto key = manifest::verify_manifest(peer_manifest, settings.now);
    if (!key) return std::unexpected(HandshakeError::from(key.error()));
    const manifest::IdentityHint& hint = peer_manifest.identity_hint;
    if (identity.subject != hint.subject) {
        return identity_failure("identity.subject != manifest.identity_hint.subject");
    }
    if (identity.type != hint.type) {
        return identity_failure("identity.type does not match manifest.identity_hint.type");
    }
    if (identity.type == IdentityType::Oidc) {
        if (!identity.issuer) return identity_failure("oidc missing issuer");
        if (hint.issuer != identity.issuer) return identity_failure("issuer hint mismatch");
        OidcVerifyOptions options{settings.own_manifest.aid,
                                  pop_nonce,
                                  settings.trust_anchors,
                                  settings.resolver,
                                  peer_manifest.aid,
                                  kOidcIatToleranceSecs,
                                  settings.now};
        if (auto verified = verify_oidc_identity(identity, options); !verified) {
            return std::unexpected(verified.error());
        }
    } else {
        auto verified =
            verify_pinned_key_identity(identity, peer_manifest.aid, settings.own_manifest.aid,
                                       envelope.message_id, pop_nonce, envelope.timestamp);
        if (!verified) return std::unexpected(verified.error());
        if (settings.pinned_keys) {
            auto key = peer_manifest.aid.ed25519_key_bytes();
            if (!key) return identity_failure("pinned_key requires an Ed25519 sender AID");
            if (!(*settings.pinned_keys)(*key)) {
                return identity_failure("pinned_key not in local trust store");
            }
        }
    }
    return *key;
}

}  // namespace vesk::handshake
