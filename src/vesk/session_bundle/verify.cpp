#include "vesk/session_bundle/verify.h"

#include <algorithm>
#include <optional>

#include "vesk/core/protocol.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"

namespace vesk::session_bundle {
namespace {

using Kind = BundleError::Kind;

// The smallest `exp` among the participant TCTs, read without verifying them.
std::expected<std::int64_t, BundleError> earliest_expiry(
    std::span<const ParticipantEntry> participants) {
    std::optional<std::int64_t> earliest;
    for (const ParticipantEntry& entry : participants) {
        auto claims = decode_participant_claims(entry.tct);
        if (!claims) return std::unexpected(std::move(claims.error()));
        earliest = earliest ? std::min(*earliest, claims->exp) : claims->exp;
    }
    return *earliest;
}

std::expected<void, BundleError> check_signature(const SessionTrustBundle& bundle) {
    auto key = VerifyingKey::from_aid(bundle.coordinator);
    if (!key) return std::unexpected(BundleError::from(std::move(key.error())));
    auto bytes = signing_bytes(BundleSigningView::of(bundle));
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    auto signature = SignatureText::parse(bundle.signature);
    if (!signature || !verify_signature_text(*key, sha256(*bytes), *signature)) {
        return std::unexpected(BundleError::of(Kind::SignatureInvalid));
    }
    return {};
}

BundleError participant_error(TctError error) {
    switch (error.kind) {
        case TctError::Kind::IssuerMismatch:
            return BundleError::of(Kind::IssuerMismatch);
        case TctError::Kind::AudienceMismatch:
            return BundleError::of(Kind::AudienceMismatch);
        default:
            return BundleError::from(std::move(error));
    }
}

}  // namespace

bool has_participant(std::span<const ParticipantEntry> participants, const Aid& aid) {
    return std::ranges::any_of(participants, [&](const ParticipantEntry& entry) {
        return entry.aid.as_str() == aid.as_str();
    });
}

std::expected<BundleVerdict, BundleError> verify(const SessionTrustBundle& bundle,
                                                 const BundleVerifyOptions& options) {
    if (bundle.version != kProtocolVersion) {
        return std::unexpected(BundleError::of(Kind::VersionMismatch));
    }
    if (bundle.expires_at < options.now) return std::unexpected(BundleError::of(Kind::Expired));
    if (bundle.participants.empty()) {
        return std::unexpected(BundleError::of(Kind::EmptyParticipants));
    }
    auto earliest = earliest_expiry(bundle.participants);
    if (!earliest) return std::unexpected(std::move(earliest.error()));
    if (*earliest != bundle.expires_at) {
        return std::unexpected(BundleError::of(Kind::ExpiresAtMismatch));
    }
    if (!has_participant(bundle.participants, options.verifier)) {
        return std::unexpected(BundleError::of(Kind::VerifierNotMember));
    }
    if (auto signed_ok = check_signature(bundle); !signed_ok) {
        return std::unexpected(std::move(signed_ok.error()));
    }

    BundleVerdict verdict{BundleVerdict::Kind::Clear, {}, {}};
    for (const ParticipantEntry& entry : bundle.participants) {
        auto verified = verify_tct_token(entry.tct, {.issuer_manifest_expires_at = std::nullopt,
                                                     .expected_audience = entry.aid,
                                                     .issuer = bundle.coordinator,
                                                     .now = options.now,
                                                     .revocation_check = nullptr,
                                                     .clock_skew_secs = 0});
        if (!verified) return std::unexpected(participant_error(std::move(verified.error())));
        const bool revoked =
            options.revocation_check && options.revocation_check->is_revoked(verified->claims.jti);
        (revoked ? verdict.dropped_aids : verdict.active_aids).push_back(entry.aid.as_str());
    }
    if (!verdict.dropped_aids.empty()) verdict.kind = BundleVerdict::Kind::Degraded;
    return verdict;
}

}  // namespace vesk::session_bundle
