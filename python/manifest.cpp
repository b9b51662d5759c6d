// verify_manifest_json; VeskAgent.build_manifest joins the agent's class from here too.
#include <cstdint>
#include <optional>
#include <string>

#include "frame/members.h"
#include "vesk/core/clock.h"
#include "vesk/manifest/model.h"
#include "vesk/manifest/verifier.h"

namespace vesk::frame {
namespace {

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

const Export verify_manifest_export = export_function<&verify_manifest_json>(
    "verify_manifest_json", {"manifest_envelope_json", "now_unix_secs"},
    "Verify a `ManifestEnvelope` JSON string: its version, expiry, signature, "
    "proof-of-possession and identity hint.\n\n"
    "Raises ValueError when the text is not a ManifestEnvelope, and ManifestVerificationError "
    "when a check fails, with a stable `.code` (\"signature_invalid\", \"pop_failed\", "
    "\"expired\", \"version_unknown\", \"identity_hint_malformed\" or \"malformed\"). "
    "`now_unix_secs` overrides the verification clock, as the same parameter of "
    "`verify_revocation_list` does.");

}  // namespace
}  // namespace vesk::frame
