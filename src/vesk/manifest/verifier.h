// Checking a received Manifest: version, expiry, signature and proof of possession by the key
// its own AID names, and the identity hint's rules. A Manifest certifies itself: callers that
// expect a particular agent compare its AID themselves.
#pragma once

#include <cstdint>
#include <expected>

#include "vesk/crypto/keys.h"
#include "vesk/manifest/error.h"
#include "vesk/manifest/model.h"

namespace vesk::manifest {

// Pinned-key hints need `public_key` (any text, and an issuer is allowed); OIDC hints need
// `issuer` and must not carry `public_key`.
std::expected<void, ManifestError> check_identity_hint(const IdentityHint& hint);

// `expires_at` equal to `now` passes; `published_at` is not checked. Gives the key the AID names,
// for the caller's further checks.
std::expected<VerifyingKey, ManifestError> verify_manifest(const Manifest& manifest,
                                                           std::int64_t now);

}  // namespace vesk::manifest
