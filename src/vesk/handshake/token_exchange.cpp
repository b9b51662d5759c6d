#include "vesk/handshake/token_exchange.h"

#include <algorithm>

#include "vesk/core/base64url.h"
#include "vesk/core/saturating.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"
#include "vesk/tokens/voucher.h"

namespace vesk::handshake {
namespace {

using Kind = HandshakeError::Kind;

constexpr std::int64_t kMaxPeerTctLifetimeSecs = 3600;
// Every nonce this system draws is 16 bytes; signing anything else would let a peer obtain our
// signature over a digest of its choosing.
constexpr std::size_t kNonceBytes = 16;

bool contains(const std::vector<std::string>& list, const std::string& entry) {
    return std::find(list.begin(), list.end(), entry) != list.end();
}

}  // namespace

std::vector<std::string> intersect_grants(const std::vector<std::string>& first,
                                          const std::vector<std::string>& second) {
    std::vector<std::string> granted;
    for (const std::string& entry : first) {
        if (contains(second, entry)) granted.push_back(entry);
    }
    return granted;
}

std::expected<IssuedTct, HandshakeError> issue_peer_tct(const SessionSettings& settings,
                                                        const Aid& peer,
                                                        const VerifyingKey& peer_key,
                                                        const std::vector<std::string>& requested) {
    std::vector<std::string> granted =
        intersect_grants(requested, settings.own_manifest.offered_capabilities);
    if (granted.empty()) return std::unexpected(HandshakeError::of(Kind::PolicyDenied));

    const std::int64_t until =
        std::min(settings.own_manifest.expires_at, sat_add(settings.now, kMaxPeerTctLifetimeSecs));
    const std::int64_t ttl = sat_sub(until, settings.now);
    if (ttl <= 0) {
        return std::unexpected(HandshakeError::invalid_envelope(
            "issuing peer's manifest is expired; cannot issue TCT"));
    }

    TctMintRequest request(settings.signing_key);
    request.issued_at = settings.now;
    request.subject_pubkey = peer_key;
    request.grants = std::move(granted);
    request.subject = peer;
    request.audience = peer;
    request.ttl_secs = ttl;
    request.with_grant_voucher = true;
    auto issued = mint_tct(std::move(request));
    if (!issued) return std::unexpected(HandshakeError::from(std::move(issued.error())));
    return std::move(*issued);
}

std::expected<std::string, HandshakeError> pop_sign_nonce(const SigningKey& key,
                                                          std::string_view peer_nonce) {
    auto nonce = b64u_decode(peer_nonce);
    if (!nonce) {
        return std::unexpected(
            HandshakeError::invalid_envelope("pop nonce is not valid base64url"));
    }
    if (nonce->size() != kNonceBytes) {
        return std::unexpected(
            HandshakeError::invalid_envelope("pop nonce must decode to exactly 16 bytes"));
    }
    return sign_digest_to_text(key, sha256(*nonce));
}

std::expected<void, HandshakeError> pop_verify_nonce(const VerifyingKey& peer_key,
                                                     std::string_view own_nonce,
                                                     std::string_view signature) {
    auto nonce = b64u_decode(own_nonce);
    auto parsed = SignatureText::parse(signature);
    if (!nonce || !parsed || !verify_signature_text(peer_key, sha256(*nonce), *parsed)) {
        return std::unexpected(HandshakeError::of(Kind::PopSignatureInvalid));
    }
    return {};
}

std::expected<VerifiedTct, HandshakeError> verify_peer_issued_tct(
    const SessionSettings& settings, std::string_view tct,
    const std::optional<std::string>& voucher, const TokenIssuer& issuer) {
    const TctVerifyOptions options{
        .issuer_manifest_expires_at = issuer.manifest_expires_at,
        .expected_audience = settings.own_manifest.aid,
        .issuer = issuer.aid,
        .now = settings.now,
        .revocation_check = nullptr,
        .clock_skew_secs = 0,
    };
    auto verified = verify_tct_token(tct, options);
    if (!verified) {
        return std::unexpected(HandshakeError::from(std::move(verified.error())));
    }

    if (voucher) {
        auto voucher_claims = verify_grant_voucher(*voucher, issuer.aid);
        if (!voucher_claims) {
            return std::unexpected(HandshakeError::from(std::move(voucher_claims.error())));
        }
        if (auto mirrored = check_voucher_mirrors(*voucher_claims, verified->claims); !mirrored) {
            return std::unexpected(HandshakeError::from(std::move(mirrored.error())));
        }
    }

    for (const std::string& grant : verified->claims.grants) {
        if (!contains(issuer.offered_capabilities, grant)) {
            return std::unexpected(HandshakeError::of(Kind::GrantsExceedOffered));
        }
    }
    if (const auto& required = settings.own_manifest.required_peer_capabilities) {
        for (const std::string& capability : *required) {
            if (!contains(verified->claims.grants, capability)) {
                return std::unexpected(HandshakeError::of(Kind::InsufficientGrants));
            }
        }
    }
    return std::move(*verified);
}

std::string render_tct_envelope_json(const IssuedTct& issued) {
    return tct_envelope_json(issued.token, issued.grant_voucher);
}

}  // namespace vesk::handshake
