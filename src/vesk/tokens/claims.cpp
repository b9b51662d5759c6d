#include "vesk/tokens/claims.h"

#include "vesk/core/canonical_json.h"
#include "vesk/core/unknown_field.h"

namespace vesk {
json::Array grants_array(const std::vector<std::string>& grants) {
    json::Array array;
    array.reserve(grants.size());
    for (const auto& grant : grants) array.emplace_back(grant);
    return array;
}

std::expected<std::string, CanonicalJsonError> canonical_tct_claims(const TctClaims& claims) {
    json::Object cnf;
    cnf.append_new("jkt", claims.cnf.jkt);
    json::Object object;
    object.reserve(10);
    object.append_new("ver", claims.ver);
    object.append_new("jti", claims.jti.to_string());
    object.append_new("iss", claims.iss.as_str());
    object.append_new("sub", claims.sub.as_str());
    object.append_new("aud", claims.aud.as_str());
    object.append_new("iat", claims.iat);
    object.append_new("exp", claims.exp);
    object.append_new("grants", grants_array(claims.grants));
    object.append_new("cnf", std::move(cnf));
    if (claims.ext) object.append_new("ext", *claims.ext);
    return canonical_json(json::Value(std::move(object)));
}

TctError claims_read_error(const json::Error& error) {
    if (auto name = unknown_field_name(error)) return TctError::unknown_field(std::move(*name));
    return TctError::claims_malformed(error.text());
}

TctError tct_error_from(PrecheckFailure failure) {
    switch (failure.kind) {
        case PrecheckFailure::Kind::Crypto:
            return TctError::from(std::move(failure.crypto));
        case PrecheckFailure::Kind::NotJson:
            return TctError::claims_malformed(std::move(failure.detail));
        case PrecheckFailure::Kind::UnknownMember:
            return TctError::unknown_field(std::move(failure.detail));
    }
    return TctError::claims_malformed(std::move(failure.detail));
}

}  // namespace vesk
