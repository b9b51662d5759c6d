#include "vesk/handshake/session.h"

#include <utility>

namespace vesk::handshake {

std::expected<SessionConfig, UrlError> SessionConfig::create(
    SharedSigningKey key, manifest::Manifest manifest,
    std::optional<std::vector<std::string>> trust_anchors, SharedJwksResolver jwks) {
    std::vector<std::string> anchors;
    if (trust_anchors) {
        anchors.reserve(trust_anchors->size());
        for (const std::string& anchor : *trust_anchors) {
            auto url = parse_url(anchor);
            if (!url) return std::unexpected(url.error());
            anchors.push_back(url->href());
        }
    } else {
        anchors = manifest.accepted_trust_anchors;
    }
    OwnIdentity identity{manifest.identity_hint.type, manifest.identity_hint.subject,
                         manifest.identity_hint.issuer};
    return SessionConfig{std::move(key),
                         std::make_shared<const manifest::Manifest>(std::move(manifest)),
                         std::move(anchors), std::move(identity), std::move(jwks)};
}

SessionSettings SessionConfig::settings(std::int64_t now) const {
    static const NoJwksResolver no_resolver;
    return SessionSettings{*key,    *manifest, trust_anchors, jwks ? *jwks : no_resolver,
                           nullptr, now};
}

}  // namespace vesk::handshake
