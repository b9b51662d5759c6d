// The payloads of the four handshake messages and the identity block the two opening ones
// carry. Written and read through the declarations below:
//   json::to_value(payload)                      a JSON object, members in declared order,
//                                                absent optional members left out
//   json::from_value<MutualHelloPayload>(value)  strict reading of an envelope's payload
//                                                (object or positional array form)
// Nothing beyond the shape is checked here: nonces, keys, proofs and tokens are texts that
// the steps check.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "vesk/core/json_record.h"
#include "vesk/manifest/model.h"

namespace vesk::handshake {

using manifest::IdentityType;

struct IdentityDescriptor {
    IdentityType type;
    std::optional<std::string> issuer;  // OIDC only
    std::string subject;
    std::string proof;                      // a signature text (pinned key) or a compact JWT (OIDC)
    std::optional<std::string> public_key;  // pinned key only: base64url of the Ed25519 key
    std::optional<json::Extensions> extensions;

    friend bool operator==(const IdentityDescriptor&, const IdentityDescriptor&) = default;
};

struct MutualHelloPayload {
    IdentityDescriptor identity;
    manifest::Manifest manifest;
    std::vector<std::string> requested_grants;
    std::string pop_nonce;
    std::optional<json::Extensions> extensions;

    friend bool operator==(const MutualHelloPayload&, const MutualHelloPayload&) = default;
};

struct MutualHelloAckPayload {
    IdentityDescriptor identity;
    manifest::Manifest manifest;
    std::vector<std::string> requested_grants;
    std::string pop_nonce;
    std::string pop_nonce_echo;
    std::optional<json::Extensions> extensions;

    friend bool operator==(const MutualHelloAckPayload&, const MutualHelloAckPayload&) = default;
};

// MUTUAL_COMMIT and MUTUAL_COMMIT_ACK share one shape.
struct MutualCommitPayload {
    std::string tct;
    std::optional<std::string> grant_voucher;
    std::string pop_signature;
    std::string pop_nonce_echo;
    std::optional<json::Extensions> extensions;

    friend bool operator==(const MutualCommitPayload&, const MutualCommitPayload&) = default;
};

struct MutualCommitAckPayload {
    std::string tct;
    std::optional<std::string> grant_voucher;
    std::string pop_signature;
    std::string pop_nonce_echo;
    std::optional<json::Extensions> extensions;

    friend bool operator==(const MutualCommitAckPayload&, const MutualCommitAckPayload&) = default;
};

constexpr auto describe_json(std::type_identity<IdentityDescriptor>) {
    using json::member;
    return json::record("struct IdentityDescriptor", member("type", &IdentityDescriptor::type),
                        member("issuer", &IdentityDescriptor::issuer),
                        member("subject", &IdentityDescriptor::subject),
                        member("proof", &IdentityDescriptor::proof),
                        member("public_key", &IdentityDescriptor::public_key),
                        member("extensions", &IdentityDescriptor::extensions));
}

constexpr auto describe_json(std::type_identity<MutualHelloPayload>) {
    using json::member;
    using P = MutualHelloPayload;
    return json::record("struct MutualHelloPayload", member("identity", &P::identity),
                        member("manifest", &P::manifest),
                        member("requested_grants", &P::requested_grants),
                        member("pop_nonce", &P::pop_nonce), member("extensions", &P::extensions));
}

constexpr auto describe_json(std::type_identity<MutualHelloAckPayload>) {
    using json::member;
    using P = MutualHelloAckPayload;
    return json::record(
        "struct MutualHelloAckPayload", member("identity", &P::identity),
        member("manifest", &P::manifest), member("requested_grants", &P::requested_grants),
        member("pop_nonce", &P::pop_nonce), member("pop_nonce_echo", &P::pop_nonce_echo),
        member("extensions", &P::extensions));
}

constexpr auto describe_json(std::type_identity<MutualCommitPayload>) {
    using json::member;
    using P = MutualCommitPayload;
    return json::record(
        "struct MutualCommitPayload", member("tct", &P::tct),
        member("grant_voucher", &P::grant_voucher), member("pop_signature", &P::pop_signature),
        member("pop_nonce_echo", &P::pop_nonce_echo), member("extensions", &P::extensions));
}

constexpr auto describe_json(std::type_identity<MutualCommitAckPayload>) {
    using json::member;
    using P = MutualCommitAckPayload;
    return json::record(
        "struct MutualCommitAckPayload", member("tct", &P::tct),
        member("grant_voucher", &P::grant_voucher), member("pop_signature", &P::pop_signature),
        member("pop_nonce_echo", &P::pop_nonce_echo), member("extensions", &P::extensions));
}

}  // namespace vesk::handshake
