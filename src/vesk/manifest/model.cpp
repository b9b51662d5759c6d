#include "vesk/manifest/model.h"

#include "vesk/core/canonical_json.h"

namespace vesk::manifest {

std::string_view name(IdentityType type) {
    return json::declaration_of<IdentityType>.names[static_cast<std::size_t>(type)];
}

std::expected<std::string, ManifestError> canonical_bytes(const Manifest& manifest) {
    json::Value full = json::to_value(manifest);
    json::Object& members = *full.as_object();
    json::Object signed_members;
    signed_members.reserve(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        auto& [member, value] = members[i];
        if (member != "signature") signed_members.append_new(member, std::move(value));
    }
    auto bytes = canonical_json(json::Value(std::move(signed_members)));
    if (!bytes) {
        return std::unexpected(
            ManifestError::of(ManifestError::Kind::Canonicalization, bytes.error().text()));
    }
    return std::move(*bytes);
}

}  // namespace vesk::manifest
