#include "vesk/handshake/jwk.h"

#include <algorithm>

namespace vesk::handshake {
namespace {

// The member's text when it is present and a JSON string.
std::optional<std::string_view> string_member(const json::Object& object, std::string_view name) {
    const json::Value* value = object.find(name);
    const json::String* text = value != nullptr ? value->as_string() : nullptr;
    if (text == nullptr) return std::nullopt;
    return *text;
}

std::unexpected<JwkError> malformed(std::string detail) {
    return std::unexpected(JwkError{JwkError::Kind::Malformed, std::move(detail)});
}

std::unexpected<JwkError> unsupported(std::string detail) {
    return std::unexpected(JwkError{JwkError::Kind::Unsupported, std::move(detail)});
}

// A required base64url member (x, y, n or e), decoded.
std::expected<Bytes, JwkError> decode_member(const json::Object& object, std::string_view name) {
    auto encoded = string_member(object, name);
    if (!encoded) return malformed("jwk missing " + std::string(name));
    auto decoded = b64u_decode(*encoded);
    if (!decoded) return malformed(std::string(name) + ": " + std::string(text(decoded.error())));
    return std::move(*decoded);
}

std::expected<std::array<std::uint8_t, 32>, JwkError> decode_coordinate(const json::Object& object,
                                                                        std::string_view name,
                                                                        std::string_view label) {
    auto bytes = decode_member(object, name);
    if (!bytes) return std::unexpected(bytes.error());
    if (bytes->size() != 32) {
        return malformed(std::string(label) + " must decode to 32 bytes, got " +
                         std::to_string(bytes->size()));
    }
    std::array<std::uint8_t, 32> out;
    std::ranges::copy(*bytes, out.begin());
    return out;
}

std::expected<JwkKeyMaterial, JwkError> read_material(const json::Object& object,
                                                      std::string_view kty) {
    std::string crv(string_member(object, "crv").value_or(""));
    if (kty == "OKP") {
        if (crv != "Ed25519") return unsupported("OKP crv=" + crv);
        auto x = decode_coordinate(object, "x", "OKP x");
        if (!x) return std::unexpected(x.error());
        return JwkKeyMaterial{JwkKeyMaterial::Okp{*x}};
    }
    if (kty == "EC") {
        if (crv != "P-256") return unsupported("EC crv=" + crv);
        auto x = decode_coordinate(object, "x", "EC x");
        if (!x) return std::unexpected(x.error());
        auto y = decode_coordinate(object, "y", "EC y");
        if (!y) return std::unexpected(y.error());
        return JwkKeyMaterial{JwkKeyMaterial::Ec{*x, *y}};
    }
    if (kty == "RSA") {
        auto n = decode_member(object, "n");
        if (!n) return std::unexpected(n.error());
        auto e = decode_member(object, "e");
        if (!e) return std::unexpected(e.error());
        return JwkKeyMaterial{JwkKeyMaterial::Rsa{std::move(*n), std::move(*e)}};
    }
    return unsupported("kty=" + std::string(kty));
}

}  // namespace

JwsAlg Jwk::alg() const {
    struct Alg {
        JwsAlg operator()(const JwkKeyMaterial::Okp&) const { return JwsAlg::EdDSA; }
        JwsAlg operator()(const JwkKeyMaterial::Ec&) const { return JwsAlg::ES256; }
        JwsAlg operator()(const JwkKeyMaterial::Rsa&) const { return JwsAlg::RS256; }
    };
    return std::visit(Alg{}, material.value);
}

std::string JwkError::text() const {
    return (kind == Kind::Malformed ? "malformed JWK: " : "unsupported JWK: ") + detail;
}

std::expected<Jwk, JwkError> read_jwk(const json::Object& object) {
    std::optional<std::string> kid;
    if (auto member = string_member(object, "kid")) kid.emplace(*member);
    auto kty = string_member(object, "kty");
    if (!kty) return malformed("jwk missing kty");
    auto material = read_material(object, *kty);
    if (!material) return std::unexpected(material.error());
    return Jwk{std::move(kid), std::move(*material)};
}

}  // namespace vesk::handshake
