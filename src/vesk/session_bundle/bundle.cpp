#include "vesk/session_bundle/bundle.h"

#include "vesk/core/json_reader.h"
#include "vesk/crypto/jws.h"

namespace vesk::session_bundle {

std::expected<std::string, BundleError> signing_bytes(const SessionTrustBundle& bundle) {
    auto bytes = json::to_canonical_json(bundle, "signature");
    if (!bytes) return std::unexpected(BundleError::canonicalization(bytes.error().text()));
    return std::move(*bytes);
}

std::expected<jws::ReadToken<TctClaims>, BundleError> decode_participant_claims(
    std::string_view token) {
    auto decoded = jws::decode_payload(token);
    if (!decoded) {
        return std::unexpected(
            BundleError::canonicalization("participant tct: " + decoded.error().text()));
    }
    if (auto unique = json::TextReader(decoded->payload_text()).read_value(true); !unique) {
        return std::unexpected(
            BundleError::canonicalization("participant tct claims: " + unique.error().text()));
    }
    auto read = jws::read_claims<TctClaims>(std::move(*decoded));
    if (!read) {
        if (auto unknown = read.error().unknown_member()) {
            return std::unexpected(BundleError::of(BundleError::Kind::UnknownField, *unknown));
        }
        return std::unexpected(
            BundleError::canonicalization("participant tct claims: " + read.error().text()));
    }
    return std::move(*read);
}

}  // namespace vesk::session_bundle
