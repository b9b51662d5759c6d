// verify_manifest_json; VeskAgent.build_manifest joins the agent's class from here too.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent.h"
#include "frame/members.h"
#include "vesk/core/clock.h"
#include "vesk/manifest/builder.h"
#include "vesk/manifest/model.h"
#include "vesk/manifest/verifier.h"

namespace vesk::python {
namespace {

using frame::Error;
using frame::Result;

Result<std::string> build_manifest(Agent& agent, std::string display_name,
                                   std::string handshake_endpoint,
                                   std::vector<std::string> offered_caps,
                                   std::optional<std::vector<std::string>> required_caps,
                                   std::optional<std::int64_t> ttl_secs, std::string identity_type,
                                   std::optional<std::string> oidc_issuer,
                                   std::optional<std::string> oidc_subject,
                                   std::optional<std::vector<std::string>> accepted_trust_anchors) {
    manifest::ManifestRequest request{std::move(display_name),
                                      std::move(handshake_endpoint),
                                      std::move(offered_caps),
                                      std::move(required_caps),
                                      ttl_secs,
                                      std::move(identity_type),
                                      std::move(oidc_issuer),
                                      std::move(oidc_subject),
                                      std::move(accepted_trust_anchors)};
    auto built = manifest::build_agent_manifest(*agent.key, request);
    if (!built) {
        // A malformed argument is a ValueError; a key that cannot serve, or a failed build, is not.
        using Kind = manifest::ManifestRequestError::Kind;
        const manifest::ManifestRequestError& e = built.error();
        const bool malformed = e.kind != Kind::PinnedKeyNeedsEd25519 && e.kind != Kind::BuildFailed;
        return std::unexpected(malformed ? Error::value(e.text()) : Error::runtime(e.text()));
    }
    auto cached = std::make_shared<const manifest::Manifest>(std::move(*built));
    std::string envelope = json::to_json(manifest::ManifestEnvelope{*cached});
    agent.manifest = std::move(cached);
    return envelope;
}

const frame::AddMembers<Agent> manifest_methods{{frame::method<&build_manifest>(
    "build_manifest",
    {"display_name",
     "handshake_endpoint",
     "offered_caps",
     "required_caps",
     "ttl_secs",
     {"identity_type", "pinned_key"},
     "oidc_issuer",
     "oidc_subject",
     "accepted_trust_anchors"},
    "Build and sign this agent's Manifest and return it as `ManifestEnvelope` JSON.\n\n"
    "The Manifest is also cached in the agent for `new_session` and `new_responder`. "
    "With identity_type \"pinned_key\" (the default; Ed25519 agents only) the identity hint "
    "binds the agent's own public key, with `display_name` as its subject. With \"oidc\" the "
    "hint names `oidc_issuer` and `oidc_subject`, and the accepted trust anchors are set to the "
    "issuer unless `accepted_trust_anchors` is passed. `ttl_secs` defaults to 3600.")}};

Result<void> verify_manifest_json(std::string manifest_envelope_json,
                                  std::optional<std::int64_t> now_unix_secs) {
    auto envelope = json::from_json<manifest::ManifestEnvelope>(manifest_envelope_json);
    if (!envelope)
        return std::unexpected(Error::value("invalid manifest JSON: " + envelope.error().text()));
    const std::int64_t now = now_unix_secs ? *now_unix_secs : unix_now();
    if (auto verified = manifest::verify_manifest(envelope->manifest, now); !verified) {
        return std::unexpected(
            Error::manifest_verification("manifest verification failed: " + verified.error().text(),
                                         std::string(verified.error().code())));
    }
    return {};
}

const frame::Export verify_manifest_export = frame::export_function<&verify_manifest_json>(
    "verify_manifest_json", {"manifest_envelope_json", "now_unix_secs"},
    "Verify a `ManifestEnvelope` JSON string: its version, expiry, signature, "
    "proof-of-possession and identity hint.\n\n"
    "Raises ValueError when the text is not a ManifestEnvelope, and ManifestVerificationError "
    "when a check fails, with a stable `.code` (\"signature_invalid\", \"pop_failed\", "
    "\"expired\", \"version_unknown\", \"identity_hint_malformed\" or \"malformed\"). "
    "`now_unix_secs` overrides the verification clock, as the same parameter of "
    "`verify_revocation_list` does.");

}  // namespace
}  // namespace vesk::python
