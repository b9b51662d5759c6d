// Compact JWS checking against fixed Ed25519 and P-256 signers: malformed tokens are refused
// with an error, and a token that verifies agrees with its segments read on their own.
#include "fixed_keys.h"
#include "vesk/crypto/jws.h"

void vesk::fuzz::check_input(std::string_view token) {
    (void)JwsHeader::parse(token);
    if (jws::decode_payload(token)) {
        require(jws::split_compact(token).has_value(), "a decoded token splits");
    }
    for (Algorithm suite : kSuites) {
        auto payload = jws::verify_compact(issuer(suite).aid(), jws::kTypTct, token);
        if (refused(payload)) continue;
        auto decoded = jws::decode_payload(token);
        require(decoded && decoded->payload == *payload,
                "the verified payload is the payload segment");
        require(JwsHeader::parse(token) == std::string(jws::kTypTct),
                "a verified token's header names its type");
        require(is_own_signature(issuer(suite), token), "only the signer's own signature verifies");
    }
}
