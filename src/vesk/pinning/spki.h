// Public-key pinning of TLS peer certificates by the SHA-256 of their SubjectPublicKeyInfo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "vesk/core/base64url.h"
#include "vesk/crypto/sha256.h"

namespace vesk::pinning {

using SpkiHash = Digest;
inline constexpr std::size_t kSpkiHashSize = std::tuple_size_v<SpkiHash>;

struct PinningError {
    enum class Kind {
        // The certificate did not parse; `detail` is the parser's text. The caller puts
        // "invalid X.509 certificate (DER): " before it.
        Certificate,
        // A pin of the wrong length; `index` and `length` describe it.
        PinLength,
    };
    Kind kind;
    std::string detail;
    std::size_t index = 0;
    std::size_t length = 0;

    std::string text() const;
};

// SHA-256 over the certificate's SubjectPublicKeyInfo element exactly as its bytes stand in
// `cert_der` (tag, length and contents). Bytes after the certificate are ignored; nothing else
// in the certificate (signature, validity, issuer, algorithm) is checked.
std::expected<SpkiHash, PinningError> compute_spki_hash(std::span<const std::uint8_t> cert_der);

// An immutable list of SPKI pins: order and duplicates kept, possibly empty.
class SpkiPinVerifier {
  public:
    // Fails on the first pin that is not exactly 32 bytes long.
    static std::expected<SpkiPinVerifier, PinningError> create(std::span<const Bytes> pins);

    const std::vector<SpkiHash>& pins() const { return pins_; }
    std::size_t len() const { return pins_.size(); }

    // True when the certificate's SPKI hash equals one of the pins.
    std::expected<bool, PinningError> is_pinned(std::span<const std::uint8_t> cert_der) const;

  private:
    explicit SpkiPinVerifier(std::vector<SpkiHash> pins) : pins_(std::move(pins)) {}

    std::vector<SpkiHash> pins_;
};

}  // namespace vesk::pinning
