// The Manifest: an agent's signed self-description, and the envelope it is published in.
// Read and written through the declarations below:
//   json::from_json<ManifestEnvelope>(text)  strict reading of a published envelope
//   json::from_value<Manifest>(value)        the same rules over a parsed value, no positions
//   json::to_value(manifest), json::to_json(envelope)  members in order, absent ones left out
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vesk/core/aid.h"
#include "vesk/core/json_record.h"
#include "vesk/manifest/error.h"

namespace vesk::manifest {

enum class IdentityType { Oidc, PinnedKey };

std::string_view name(IdentityType type);

struct IdentityHint {
    IdentityType type;
    std::string subject;
    std::optional<std::string> issuer;
    std::optional<std::string> public_key;

    friend bool operator==(const IdentityHint&, const IdentityHint&) = default;
};

struct ManifestPop {
    std::string challenge;
    std::string signature;

    friend bool operator==(const ManifestPop&, const ManifestPop&) = default;
};

struct Manifest {
    std::string version;
    Aid aid;
    std::optional<std::string> display_name;
    IdentityHint identity_hint;
    std::string handshake_endpoint;
    std::vector<std::string> accepted_trust_anchors;
    std::optional<std::vector<std::string>> accepted_identity_types;
    std::optional<std::vector<std::string>> accepted_signature_algorithms;
    std::vector<std::string> offered_capabilities;
    std::optional<std::vector<std::string>> required_peer_capabilities;
    ManifestPop proof_of_possession;
    std::int64_t published_at = 0;
    std::int64_t expires_at = 0;
    std::optional<json::Extensions> extensions;  // sorted by key
    std::string signature;

    friend bool operator==(const Manifest&, const Manifest&) = default;
};

struct ManifestEnvelope {
    Manifest manifest;

    friend bool operator==(const ManifestEnvelope&, const ManifestEnvelope&) = default;
};

// The wire declarations: member order is the written order and the positional order.
constexpr auto describe_json(std::type_identity<IdentityType>) {
    return json::variants<IdentityType>({"oidc", "pinned_key"});
}

constexpr auto describe_json(std::type_identity<IdentityHint>) {
    return json::record("struct IdentityHint", json::member("type", &IdentityHint::type),
                        json::member("subject", &IdentityHint::subject),
                        json::member("issuer", &IdentityHint::issuer),
                        json::member("public_key", &IdentityHint::public_key));
}

constexpr auto describe_json(std::type_identity<ManifestPop>) {
    return json::record("struct ManifestPop", json::member("challenge", &ManifestPop::challenge),
                        json::member("signature", &ManifestPop::signature));
}

constexpr auto describe_json(std::type_identity<Manifest>) {
    using json::member;
    return json::record(
        "struct Manifest", member("version", &Manifest::version), member("aid", &Manifest::aid),
        member("display_name", &Manifest::display_name),
        member("identity_hint", &Manifest::identity_hint),
        member("handshake_endpoint", &Manifest::handshake_endpoint),
        member("accepted_trust_anchors", &Manifest::accepted_trust_anchors),
        member("accepted_identity_types", &Manifest::accepted_identity_types),
        member("accepted_signature_algorithms", &Manifest::accepted_signature_algorithms),
        member("offered_capabilities", &Manifest::offered_capabilities),
        member("required_peer_capabilities", &Manifest::required_peer_capabilities),
        member("proof_of_possession", &Manifest::proof_of_possession),
        member("published_at", &Manifest::published_at),
        member("expires_at", &Manifest::expires_at), member("extensions", &Manifest::extensions),
        member("signature", &Manifest::signature));
}

constexpr auto describe_json(std::type_identity<ManifestEnvelope>) {
    return json::record("struct ManifestEnvelope",
                        json::member("manifest", &ManifestEnvelope::manifest));
}

// The canonical (RFC 8785) bytes of every member but `signature`: what the signature covers.
std::expected<std::string, ManifestError> canonical_bytes(const Manifest& manifest);

}  // namespace vesk::manifest
