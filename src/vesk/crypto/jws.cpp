#include "vesk/crypto/jws.h"

#include "vesk/core/fault.h"

namespace vesk {

std::string JwkSignatureError::text() const {
    switch (kind) {
        case Kind::AlgMismatch:
            return "JWS header alg " + header_alg + " does not match key alg " +
                   std::string(name(key_alg));
        case Kind::KeyMaterial:
            return "key material invalid: " + key_error.text();
        case Kind::SignatureInvalid:
            return "signature verification failed";
    }
    fault("unknown JwkSignatureError kind");
}

namespace {

std::string_view as_text(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

std::optional<std::string> JwsHeader::parse(std::string_view token) {
    auto bytes = b64u_decode(token.substr(0, token.find('.')));
    if (!bytes) return std::nullopt;
    auto value = json::parse(as_text(*bytes));
    if (!value || !value->as_object()) return std::nullopt;
    const json::Value* typ = value->as_object()->find("typ");
    if (!typ || !typ->as_string()) return std::nullopt;
    return std::string(*typ->as_string());
}

namespace jws {
namespace {

std::expected<Bytes, CryptoError> decode(std::string_view segment, std::string_view which) {
    auto bytes = b64u_decode(segment);
    if (!bytes) {
        return std::unexpected(
            CryptoError::jws_malformed(std::string(which) + std::string(text(bytes.error()))));
    }
    return std::move(*bytes);
}

// The checks after the segments decoded: the header, then the signature over the signing input.
std::expected<void, CryptoError> check_header_and_signature(const Aid& signer, std::string_view typ,
                                                            const Segments& segments,
                                                            const Bytes& header_bytes,
                                                            const Bytes& signature) {
    auto header = json::from_json<JwsHeader>(as_text(header_bytes));
    if (!header) {
        return std::unexpected(
            CryptoError::jws_malformed("protected header: " + header.error().text()));
    }
    // The type is compared before the signature is checked, the signature before the payload.
    if (header->typ != typ) {
        return std::unexpected(CryptoError::jws_typ_mismatch(std::string(typ), header->typ));
    }
    const std::string_view expected_alg = signer.algorithm() == Algorithm::P256 ? "ES256" : "EdDSA";
    if (header->alg != expected_alg) {
        return std::unexpected(CryptoError::jws_alg_mismatch(
            "expected " + std::string(expected_alg) + " for this AID, got " + header->alg));
    }
    auto key = VerifyingKey::from_aid(signer);
    if (!key) return std::unexpected(key.error());
    const std::string_view input = segments.signing_input();
    return key->verify({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()},
                       signature);
}

}  // namespace

std::optional<Segments> split_three(std::string_view token) {
    const auto first = token.find('.');
    const auto second = first == std::string_view::npos ? first : token.find('.', first + 1);
    if (second == std::string_view::npos || token.find('.', second + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    return Segments{token.substr(0, first), token.substr(first + 1, second - first - 1),
                    token.substr(second + 1)};
}

std::expected<Segments, CryptoError> split_compact(std::string_view token) {
    auto s = split_three(token);
    if (!s || s->header.empty() || s->payload.empty() || s->signature.empty()) {
        return std::unexpected(
            CryptoError::jws_malformed("expected exactly three non-empty segments"));
    }
    return *s;
}

std::expected<DecodedToken, CryptoError> decode_payload(std::string_view token) {
    auto segments = split_compact(token);
    if (!segments) return std::unexpected(segments.error());
    auto payload = decode(segments->payload, "payload segment: ");
    if (!payload) return std::unexpected(payload.error());
    return DecodedToken{*segments, std::move(*payload)};
}

std::string protected_header(Algorithm algorithm, std::string_view typ) {
    const std::string_view alg = algorithm == Algorithm::P256 ? "ES256" : "EdDSA";
    return R"({"alg":")" + std::string(alg) + R"(","typ":")" + std::string(typ) + R"("})";
}

std::string sign_claims_bytes(const SigningKey& key, std::string_view typ,
                              std::string_view claims) {
    std::string token =
        b64u_encode(protected_header(key.algorithm(), typ)) + "." + b64u_encode(claims);
    const SignatureBytes signature =
        key.sign({reinterpret_cast<const std::uint8_t*>(token.data()), token.size()});
    return token + "." + b64u_encode(signature);
}

std::expected<Bytes, CryptoError> verify_compact(const Aid& signer, std::string_view typ,
                                                 std::string_view token) {
    auto segments = split_compact(token);
    if (!segments) return std::unexpected(segments.error());
    auto header = decode(segments->header, "header segment: ");
    if (!header) return std::unexpected(header.error());
    auto payload = decode(segments->payload, "payload segment: ");
    if (!payload) return std::unexpected(payload.error());
    auto signature = decode(segments->signature, "signature segment: ");
    if (!signature) return std::unexpected(signature.error());
    if (auto checked = check_header_and_signature(signer, typ, *segments, *header, *signature);
        !checked) {
        return std::unexpected(checked.error());
    }
    auto claims = json::parse(as_text(*payload));
    if (!claims || !claims->as_object()) {
        return std::unexpected(CryptoError::jws_malformed("payload is not a JSON object"));
    }
    return std::move(*payload);
}

std::expected<void, CryptoError> verify_decoded(const Aid& signer, std::string_view typ,
                                                const DecodedToken& token) {
    auto header = decode(token.segments.header, "header segment: ");
    if (!header) return std::unexpected(header.error());
    auto signature = decode(token.segments.signature, "signature segment: ");
    if (!signature) return std::unexpected(signature.error());
    return check_header_and_signature(signer, typ, token.segments, *header, *signature);
}

}  // namespace jws
}  // namespace vesk
