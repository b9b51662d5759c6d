#include "vesk/manifest/model.h"

namespace vesk::manifest {

std::string_view name(IdentityType type) {
    return json::declaration_of<IdentityType>.names[static_cast<std::size_t>(type)];
}

std::expected<std::string, ManifestError> canonical_bytes(const Manifest& manifest) {
    auto bytes = json::to_canonical_json(manifest, "signature");
    if (!bytes) {
        return std::unexpected(
            ManifestError::of(ManifestError::Kind::Canonicalization, bytes.error().text()));
    }
    return std::move(*bytes);
}

}  // namespace vesk::manifest
