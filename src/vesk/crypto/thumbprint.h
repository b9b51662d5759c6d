// RFC 7638 JWK thumbprints of public keys.
#pragma once

#include <string>

#include "vesk/crypto/keys.h"

namespace vesk {

// base64url(SHA-256) of {"crv":"Ed25519","kty":"OKP","x":...} or
// {"crv":"P-256","kty":"EC","x":...,"y":...}: 43 characters.
std::string jwk_thumbprint(const VerifyingKey& key);

}  // namespace vesk
