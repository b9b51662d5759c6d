#include "vesk/tokens/claims.h"

namespace vesk {

TctError tct_error(jws::ClaimsFault fault) {
    if (fault.crypto) return TctError::from(std::move(*fault.crypto));
    if (auto name = fault.unknown_member()) return TctError::unknown_field(std::move(*name));
    return TctError::claims_malformed(fault.text());
}

}  // namespace vesk
