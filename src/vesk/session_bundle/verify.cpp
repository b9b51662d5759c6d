#include "vesk/session_bundle/verify.h"

#include <algorithm>
#include <optional>

#include "vesk/core/protocol.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"

namespace vesk::session_bundle {
namespace {

using Kind = BundleError::Kind;

using ReadTct = jws::ReadToken<TctClaims>;

// The participant TCTs' claims, read without verifying the tokens.
std::expected<std::vector<ReadTct>, BundleError> read_participants(
    std::span<const ParticipantEntry> participants) {
    std::vector<ReadTct> reads;
    reads.reserve(participants.size());
    for (const ParticipantEntry& entry : participants) {
        auto read = decode_participant_claims(entry.tct);
        if (!read) return std::unexpected(std::move(read.error()));
        reads.push_back(std::move(*read));
    }
    return reads;
}

std::expected<void, BundleError> check_signature(const SessionTrustBundle& bundle) {
    auto key = VerifyingKey::from_aid(bundle.coordinator);
    if (!key) return std::unexpected(BundleError::from(std::move(key.error())));
    auto bytes = signing_bytes(bundle);
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
    auto reads = read_participants(bundle.participants);
    if (!reads) return std::unexpected(std::move(reads.error()));
    const auto earliest =
        std::ranges::min_element(*reads, {}, [](const ReadTct& r) { return r.claims.exp; });
    if (earliest->claims.exp != bundle.expires_at) {
        return std::unexpected(BundleError::of(Kind::ExpiresAtMismatch));
    }
    if (!has_participant(bundle.participants, options.verifier)) {
        return std::unexpected(BundleError::of(Kind::VerifierNotMember));
    }
    if (auto signed_ok = check_signature(bundle); !signed_ok) {
        return std::unexpected(std::move(signed_ok.error()));
    }

    // The claims read above are the ones each participant TCT is verified with.
    BundleVerdict verdict{BundleVerdict::Kind::Clear, {}, {}};
    for (std::size_t i = 0; i < bundle.participants.size(); ++i) {
        const ParticipantEntry& entry = bundle.participants[i];
        const ReadTct& read = (*reads)[i];
        auto verified = verify_read_tct(read, {.issuer_manifest_expires_at = std::nullopt,
                                               .expected_audience = entry.aid,
                                               .issuer = bundle.coordinator,
                                               .now = options.now,
                                               .revocation_check = nullptr,
                                               .clock_skew_secs = 0});
        if (!verified) return std::unexpected(participant_error(std::move(verified.error())));
        const bool revoked =
            options.revocation_check && options.revocation_check->is_revoked(read.claims.jti);
        (revoked ? verdict.dropped_aids : verdict.active_aids).push_back(entry.aid.as_str());
    }
    if (!verdict.dropped_aids.empty()) verdict.kind = BundleVerdict::Kind::Degraded;
    return verdict;
}

}  // namespace vesk::session_bundle
