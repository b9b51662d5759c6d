// Agent identifiers: "aid:pubkey:" + 43 characters (Ed25519), "aid:pubkey:p256:" + 44
// characters (compressed P-256 point), and "aid:pubkey:ed25519:" + 43 characters on input.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "vesk/core/base64url.h"
#include "vesk/core/json_record.h"

namespace vesk {

enum class Algorithm { Ed25519, P256 };

struct AidError {
    enum class Kind { NotAid, UnsupportedMethod, Length, Characters };
    Kind kind;
    std::string method;        // UnsupportedMethod
    std::size_t required = 0;  // Length
    std::size_t actual = 0;    // Length

    static AidError not_aid() { return {Kind::NotAid, {}, 0, 0}; }
    static AidError unsupported_method(std::string m) {
        return {Kind::UnsupportedMethod, std::move(m), 0, 0};
    }
    static AidError length(std::size_t required, std::size_t actual) {
        return {Kind::Length, {}, required, actual};
    }
    static AidError characters() { return {Kind::Characters, {}, 0, 0}; }

    std::string text() const;
    friend bool operator==(const AidError&, const AidError&) = default;
};

class Aid {
  public:
    static std::expected<Aid, AidError> parse(std::string_view text);
    static Aid from_ed25519(std::span<const std::uint8_t, 32> key);
    static Aid from_p256(std::span<const std::uint8_t, 33> compressed_point);

    Algorithm algorithm() const;
    std::optional<std::array<std::uint8_t, 32>> ed25519_key_bytes() const;
    std::optional<std::array<std::uint8_t, 33>> p256_key_bytes() const;
    Bytes public_key_bytes() const;  // 32 or 33 bytes, by algorithm()
    const std::string& as_str() const { return text_; }

    // Compared as text: the two Ed25519 forms of one key are different AIDs.
    friend bool operator==(const Aid&, const Aid&) = default;
    friend auto operator<=>(const Aid&, const Aid&) = default;

  private:
    explicit Aid(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

// JSON: a string read with Aid::parse; its AidError text becomes the reading error.
std::expected<Aid, std::string> aid_from_json_text(std::string_view text);
inline std::string aid_to_json_text(const Aid& aid) {
    return aid.as_str();
}
constexpr auto describe_json(std::type_identity<Aid>) {
    return json::parsed_string<Aid>("a string", aid_from_json_text, aid_to_json_text);
}

}  // namespace vesk
