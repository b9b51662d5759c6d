// The token half of the handshake: which grants each side issues, the TCT and voucher it
// issues to its peer, the proof of possession over the peer's nonce, and the checks on the
// pair the peer issued in return.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vesk/core/aid.h"
#include "vesk/crypto/keys.h"
#include "vesk/handshake/error.h"
#include "vesk/handshake/session.h"
#include "vesk/tokens/mint.h"
#include "vesk/tokens/verify.h"

namespace vesk::handshake {

// The entries of `first`, in its order and with its repeats, that `second` also holds.
std::vector<std::string> intersect_grants(const std::vector<std::string>& first,
                                          const std::vector<std::string>& second);

// Mints the peer's TCT and voucher from the grants it asked for that our Manifest offers,
// living no longer than our Manifest nor an hour.
std::expected<IssuedTct, HandshakeError> issue_peer_tct(const SessionSettings& settings,
                                                        const Aid& peer,
                                                        const VerifyingKey& peer_key,
                                                        const std::vector<std::string>& requested);

// Our signature over SHA-256 of the peer's 16-byte nonce.
std::expected<std::string, HandshakeError> pop_sign_nonce(const SigningKey& key,
                                                          std::string_view peer_nonce);

// Checks the peer's signature over SHA-256 of the nonce we sent.
std::expected<void, HandshakeError> pop_verify_nonce(const VerifyingKey& peer_key,
                                                     std::string_view own_nonce,
                                                     std::string_view signature);

// What we know of the peer that issued us a TCT, from the Manifest it showed us.
struct TokenIssuer {
    const Aid& aid;
    std::int64_t manifest_expires_at;
    const std::vector<std::string>& offered_capabilities;
};

// Checks the TCT (and voucher, when there is one) the peer issued to us.
std::expected<VerifiedTct, HandshakeError> verify_peer_issued_tct(
    const SessionSettings& settings, std::string_view tct,
    const std::optional<std::string>& voucher, const TokenIssuer& issuer);

// {"tct":...,"grant_voucher":...}, the voucher null when there is none.
std::string render_tct_envelope_json(const IssuedTct& issued);

}  // namespace vesk::handshake
