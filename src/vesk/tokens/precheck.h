// The early look at a token's payload, made before its signature is checked: a token that
// declares the verifier's type must carry a JSON payload without unknown top-level members.
#pragma once

#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "vesk/core/base64url.h"
#include "vesk/crypto/crypto_error.h"

namespace vesk {

struct PrecheckFailure {
    enum class Kind {
        Crypto,         // the payload segment could not be split off or decoded
        NotJson,        // detail: the parser's error text
        UnknownMember,  // detail: the member name
    };
    Kind kind;
    std::string detail;
    CryptoError crypto{};
};

// The decoded payload of a token, whatever its type, provided it begins with one well-formed
// JSON value and, when it is one whole object, names only `member_names`.
std::expected<Bytes, PrecheckFailure> check_payload_members(
    std::string_view token, std::span<const std::string_view> member_names);

// The same check, made only when the token's header declares exactly `typ`; does nothing
// otherwise.
std::expected<void, PrecheckFailure> precheck_token_members(
    std::string_view token, std::string_view typ, std::span<const std::string_view> member_names);

}  // namespace vesk
