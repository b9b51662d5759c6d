#include "vesk/tokens/claims.h"

#include "vesk/core/unknown_field.h"

namespace vesk {
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
