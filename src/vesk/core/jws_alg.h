// The JWS signature algorithms, named by one table.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace vesk {

enum class JwsAlg { EdDSA, ES256, RS256 };

inline constexpr std::array<std::string_view, 3> kJwsAlgNames = {"EdDSA", "ES256", "RS256"};

constexpr std::string_view name(JwsAlg alg) {
    return kJwsAlgNames[static_cast<std::size_t>(alg)];
}

}  // namespace vesk
