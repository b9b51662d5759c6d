// The verified peer identity that a TCT carries, as handed to callers of verification.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vesk {

struct TctIdentity {
    std::string peer_aid;  // the token's issuer
    std::vector<std::string> grants;
    std::string jti;  // 36-character lowercase hyphenated text
    std::int64_t expires_at = 0;
};

// An identity as verified for one audience (the token's `aud`).
struct VerifiedIdentity {
    TctIdentity identity;
    std::string aud;
};

}  // namespace vesk
