#include "vesk/pinning/spki.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <optional>

#include "vesk/core/fault.h"
#include "vesk/crypto/openssl_ptr.h"

namespace vesk::pinning {
namespace {

using X509Ptr = OpensslPtr<X509, X509_free>;
using Span = std::span<const std::uint8_t>;

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kVersionTag = 0xa0;  // [0] EXPLICIT, constructed

PinningError certificate_error(std::string detail) {
    return {.kind = PinningError::Kind::Certificate,
            .detail = std::move(detail),
            .index = 0,
            .length = 0};
}

// The reason of the earliest queued OpenSSL error (the innermost cause); empties the queue.
std::string take_parser_error() {
    unsigned long code = ERR_peek_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason != nullptr ? reason : "unparseable certificate";
}

// One DER element: its tag, the whole element (header and contents) and its contents.
struct Element {
    std::uint8_t tag;
    Span whole;
    Span contents;
};

// Reads the element at the start of `input`. Only the definite-length forms DER allows
// are taken; high tag numbers never occur on the path walked here.
std::optional<Element> read_element(Span input) {
    if (input.size() < 2 || (input[0] & 0x1f) == 0x1f) return std::nullopt;
    std::size_t pos = 2;
    std::size_t length = input[1];
    if (length & 0x80) {
        std::size_t count = length & 0x7f;
        if (count == 0 || count > sizeof(std::uint32_t) || input.size() - pos < count) {
            return std::nullopt;
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i) length = (length << 8) | input[pos++];
    }
    if (input.size() - pos < length) return std::nullopt;
    return Element{input[0], input.first(pos + length), input.subspan(pos, length)};
}

// Finds the SubjectPublicKeyInfo inside a certificate: the seventh field of the TBS
// certificate, or the sixth when the optional version field is absent.
std::optional<Span> find_spki(Span cert) {
    auto outer = read_element(cert);
    if (!outer || outer->tag != kSequence) return std::nullopt;
    auto tbs = read_element(outer->contents);
    if (!tbs || tbs->tag != kSequence) return std::nullopt;
    Span rest = tbs->contents;
    auto field = read_element(rest);
    if (field && field->tag == kVersionTag) {
        rest = rest.subspan(field->whole.size());
        field = read_element(rest);
    }
    // serialNumber, signature, issuer, validity, subject
    for (int skipped = 0; skipped < 5; ++skipped) {
        if (!field) return std::nullopt;
        rest = rest.subspan(field->whole.size());
        field = read_element(rest);
    }
    if (!field || field->tag != kSequence) return std::nullopt;
    return field->whole;
}

}  // namespace

std::string PinningError::text() const {
    switch (kind) {
        case Kind::Certificate:
            return detail;
        case Kind::PinLength:
            return "pin at index " + std::to_string(index) + " must be exactly 32 bytes (got " +
                   std::to_string(length) + ")";
    }
    fault("unknown PinningError kind");
}

std::expected<SpkiHash, PinningError> compute_spki_hash(Span cert_der) {
    // The X.509 parser validates the certificate; it stops at the end of the first one.
    ERR_clear_error();
    static constexpr std::uint8_t kNothing = 0;
    const unsigned char* start = cert_der.empty() ? &kNothing : cert_der.data();
    const unsigned char* cursor = start;
    long available = static_cast<long>(std::min<std::size_t>(cert_der.size(), LONG_MAX));
    X509Ptr cert(d2i_X509(nullptr, &cursor, available));
    if (!cert) return std::unexpected(certificate_error(take_parser_error()));
    ERR_clear_error();  // a key the parser could not decode leaves a note behind
    Span parsed = cert_der.first(static_cast<std::size_t>(cursor - start));

    // The parser also accepts indefinite lengths, which DER forbids and the walk refuses.
    auto spki = find_spki(parsed);
    if (!spki) return std::unexpected(certificate_error("certificate is not DER-encoded"));
    return sha256(*spki);
}

std::expected<SpkiPinVerifier, PinningError> SpkiPinVerifier::create(std::span<const Bytes> pins) {
    std::vector<SpkiHash> hashes;
    hashes.reserve(pins.size());
    for (std::size_t i = 0; i < pins.size(); ++i) {
        if (pins[i].size() != kSpkiHashSize) {
            return std::unexpected(PinningError{.kind = PinningError::Kind::PinLength,
                                                .detail = {},
                                                .index = i,
                                                .length = pins[i].size()});
        }
        SpkiHash& hash = hashes.emplace_back();
        std::ranges::copy(pins[i], hash.begin());
    }
    return SpkiPinVerifier(std::move(hashes));
}

std::expected<bool, PinningError> SpkiPinVerifier::is_pinned(Span cert_der) const {
    auto hash = compute_spki_hash(cert_der);
    if (!hash) return std::unexpected(hash.error());
    return std::ranges::find(pins_, *hash) != pins_.end();
}

}  // namespace vesk::pinning
