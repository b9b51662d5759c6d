// JSON Web Keys of OIDC issuers: the key material the handshake verifies identity tokens with.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "vesk/core/base64url.h"
#include "vesk/core/json_value.h"
#include "vesk/core/jws_alg.h"

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

    // Follows from the key type alone; a JWK's own alg member is never read.
    JwsAlg alg() const;

    bool operator==(const Jwk&) const = default;
};

struct JwkError {
    enum class Kind { Malformed, Unsupported };
    Kind kind;
    std::string detail;

    std::string text() const;
};

// Reads one JWK object. Members other than kid, kty, crv, x, y, n and e (alg and use among
// them) are ignored; a kid that is not a string counts as absent.
std::expected<Jwk, JwkError> read_jwk(const json::Object& object);

}  // namespace vesk::handshake
