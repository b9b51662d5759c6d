// JSON Web Keys of OIDC issuers: the key material the handshake verifies identity tokens with.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "vesk/core/base64url.h"

namespace vesk::handshake {

struct JwkKeyMaterial {
    struct Okp {  // Ed25519
        std::array<std::uint8_t, 32> x;
        bool operator==(const Okp&) const = default;
    };
    struct Ec {  // P-256, big-endian affine coordinates (not checked to lie on the curve)
        std::array<std::uint8_t, 32> x, y;
        bool operator==(const Ec&) const = default;
    };
    struct Rsa {  // big-endian, any length; checked when a signature is verified
        Bytes n, e;
        bool operator==(const Rsa&) const = default;
    };
    std::variant<Okp, Ec, Rsa> value;
    bool operator==(const JwkKeyMaterial&) const = default;
};

struct Jwk {
    std::optional<std::string> kid;
    JwkKeyMaterial material;
    bool operator==(const Jwk&) const = default;
};

struct JwkError {
    enum class Kind { Malformed, Unsupported };
    Kind kind;
    std::string detail;

    std::string text() const;
};

// Looks up a member of the JWK object: its text when present and a JSON string, else nothing.
using JwkStringMember = std::function<std::optional<std::string_view>(std::string_view name)>;

// Reads one JWK. Members other than kid, kty, crv, x, y, n and e (alg and use among them) are
// ignored; a kid that is not a string counts as absent.
std::expected<Jwk, JwkError> read_jwk(const JwkStringMember& string_member);

}  // namespace vesk::handshake
