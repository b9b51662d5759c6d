// The early look at a token's payload, made before its signature is checked: a token that
// declares the verifier's type must carry a JSON payload without unknown top-level members.
#pragma once

#include <expected>
#include <span>
#include <string>
#include <string_view>

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

// Does nothing unless the token's header declares exactly `typ`.
std::expected<void, PrecheckFailure> precheck_token_members(
    std::string_view token, std::string_view typ, std::span<const std::string_view> member_names);

}  // namespace vesk
