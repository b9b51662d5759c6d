// Grant voucher verification against a fixed issuer: whatever verifies is a voucher the issuer
// signed, names it, carries grants, and is checked against a TCT without a fault.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/tokens/voucher.h"

using namespace vesk;

namespace {

void check(const SigningKey& issuer, std::string_view voucher) {
    auto verified = verify_grant_voucher(voucher, issuer.aid());
    if (!verified) {
        fuzz::require(!verified.error().text().empty(), "a refusal has a text");
        return;
    }
    fuzz::require(fuzz::is_own_signature(issuer, voucher), "only the issuer's signature verifies");
    fuzz::require(
        verified->ver == "vesk/0.2" && verified->iss == issuer.aid() && !verified->grants.empty(),
        "a verified voucher names its issuer and carries grants");
    // A TCT that restates the voucher is mirrored by it.
    TctClaims tct{.ver = verified->ver,
                  .jti = verified->src_jti,
                  .iss = verified->iss,
                  .sub = verified->sub,
                  .aud = verified->sub,
                  .iat = verified->iat,
                  .exp = verified->exp,
                  .grants = verified->grants,
                  .cnf = {},
                  .ext = std::nullopt};
    fuzz::require(check_voucher_mirrors(*verified, tct).has_value(), "a restating TCT mirrors");
    tct.iat += 1;
    fuzz::require(!check_voucher_mirrors(*verified, tct), "another issue time does not mirror");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view voucher = fuzz::as_text(data, size);
    check(fuzz::issuer_ed25519(), voucher);
    check(fuzz::issuer_p256(), voucher);
    return 0;
}
