// Grant voucher verification against a fixed issuer: whatever verifies is a voucher the issuer
// signed, names it, carries grants, and is checked against a TCT without a fault.
#include "fixed_keys.h"
#include "vesk/tokens/voucher.h"

void vesk::fuzz::check_input(std::string_view voucher) {
    for (Algorithm suite : kSuites) {
        auto verified = verify_grant_voucher(voucher, issuer(suite).aid());
        if (refused(verified)) continue;
        require(is_own_signature(issuer(suite), voucher), "only the issuer's signature verifies");
        require(verified->ver == "vesk/0.2" && verified->iss == issuer(suite).aid() &&
                    !verified->grants.empty(),
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
        require(check_voucher_mirrors(*verified, tct).has_value(), "a restating TCT mirrors");
        tct.iat += 1;
        require(!check_voucher_mirrors(*verified, tct), "another issue time does not mirror");
    }
}
