// The claim set of a TCT and its confirmation member.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vesk/core/aid.h"
#include "vesk/core/json.h"
#include "vesk/core/uuid.h"
#include "vesk/tokens/tct_error.h"

namespace vesk {

inline constexpr std::string_view kProtocolVersion = "vesk/0.2";
inline constexpr std::string_view kTctType = "vesk-tct+jwt";

// The names of the TCT claims, in declaration order.
inline constexpr std::array<std::string_view, 10> kTctClaimNames = {
    "ver", "jti", "iss", "sub", "aud", "iat", "exp", "grants", "cnf", "ext"};

struct Cnf {
    std::string jkt;  // JWK thumbprint of the subject's public key
};

struct TctClaims {
    std::string ver;
    Uuid jti;
    Aid iss;
    Aid sub;
    Aid aud;
    std::int64_t iat = 0;
    std::int64_t exp = 0;
    std::vector<std::string> grants;
    Cnf cnf;
    std::optional<json::Object> ext;
};

// Strict reading from JSON text (errors carry the position) or from a parsed value.
std::expected<TctClaims, json::Error> read_tct_claims(std::string_view json);
std::expected<TctClaims, json::Error> read_tct_claims(const json::Value& value);

// The canonical (signed) bytes of the claims.
std::expected<std::string, Canonicaljson::Error> canonical_tct_claims(const TctClaims& claims);

// A claims reading error as a TctError: an unknown member by name, anything else malformed.
TctError claims_read_error(const json::Error& error);

}  // namespace vesk
