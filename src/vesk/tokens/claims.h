// The claim set of a TCT and its confirmation member.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vesk/core/aid.h"
#include "vesk/core/json_record.h"
#include "vesk/core/uuid.h"
#include "vesk/crypto/token_claims.h"
#include "vesk/tokens/tct_error.h"

namespace vesk {

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
    std::optional<json::Extensions> ext;
};

constexpr auto describe_json(std::type_identity<Cnf>) {
    return json::record("struct Cnf", json::member("jkt", &Cnf::jkt));
}

constexpr auto describe_json(std::type_identity<TctClaims>) {
    return json::record("struct TctClaims", json::member("ver", &TctClaims::ver),
                        json::member("jti", &TctClaims::jti), json::member("iss", &TctClaims::iss),
                        json::member("sub", &TctClaims::sub), json::member("aud", &TctClaims::aud),
                        json::member("iat", &TctClaims::iat), json::member("exp", &TctClaims::exp),
                        json::member("grants", &TctClaims::grants),
                        json::member("cnf", &TctClaims::cnf), json::member("ext", &TctClaims::ext));
}

// Claims are read strictly with json::from_json<TctClaims> (text, positioned errors) or
// json::from_value<TctClaims> (a parsed value), and from tokens with jws::read_token.

// A token's claims that could not be had, as a TctError: an unknown member by name, a payload
// that is no JSON or no claim set malformed, the token itself by its crypto error.
TctError tct_error(jws::ClaimsFault fault);

}  // namespace vesk
