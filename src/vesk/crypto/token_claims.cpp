#include "vesk/crypto/token_claims.h"

namespace vesk::jws {

std::optional<std::string> ClaimsFault::unknown_member() const {
    if (kind == Kind::UnknownMember) return member;
    if (kind != Kind::Claims || json.kind != json::Error::Kind::UnknownField) return std::nullopt;
    return json.field.substr(0, json.field.find('`'));
}

}  // namespace vesk::jws
