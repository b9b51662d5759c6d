// In-band TCT renewal: the holder proves possession of the subject key over a fresh nonce, and
// the issuer mints a replacement with the same subject, audience and grants.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "vesk/core/json_record.h"
#include "vesk/crypto/keys.h"
#include "vesk/tokens/mint.h"
#include "vesk/tokens/tct_error.h"

namespace vesk {

struct TctRenewalPayload {
    std::string current_tct;    // compact JWS
    std::string pop_nonce;      // 16 random bytes, base64url
    std::string pop_signature;  // signature text over SHA-256 of the nonce bytes
};

// Read with json::from_json<TctRenewalPayload>, written with json::to_json.
constexpr auto describe_json(std::type_identity<TctRenewalPayload>) {
    using P = TctRenewalPayload;
    return json::record("struct TctRenewalPayload", json::member("current_tct", &P::current_tct),
                        json::member("pop_nonce", &P::pop_nonce),
                        json::member("pop_signature", &P::pop_signature));
}

// Holder side: the request JSON for `current_tct` (taken as it is), with a fresh 16-byte nonce
// signed through its SHA-256.
std::string build_renewal_request(const SigningKey& holder_key, std::string_view current_tct);

// Issuer side: verifies the TCT as one of `issuer_key`'s own and the proof of possession, then
// mints a replacement that lives min(new_ttl, manifest_exp - now) seconds.
std::expected<MintedTct, TctError> process_renewal_request(const TctRenewalPayload& request,
                                                           const SigningKey& issuer_key,
                                                           std::int64_t manifest_exp,
                                                           std::int64_t now, std::int64_t new_ttl);

}  // namespace vesk
