#include "vesk/crypto/ed25519.h"

#include <algorithm>
#include <array>

#include "vesk/crypto/bignum.h"

namespace vesk::ed25519 {

bool is_curve_point(std::span<const std::uint8_t, 32> encoding) {
    BnCtx ctx = new_bn_ctx();
    BN_CTX* c = ctx.get();
    Bn p = new_bn(), d = new_bn(), tmp = new_bn(), one = new_bn();
    // p = 2^255 - 19; d = -121665 / 121666 mod p.
    ossl_check(BN_set_bit(p.get(), 255) == 1 && BN_sub_word(p.get(), 19) == 1);
    ossl_check(BN_set_word(one.get(), 1) == 1 && BN_set_word(tmp.get(), 121666) == 1);
    ossl_check(BN_mod_inverse(d.get(), tmp.get(), p.get(), c) != nullptr);
    ossl_check(BN_set_word(tmp.get(), 121665) == 1);
    ossl_check(BN_mod_mul(d.get(), d.get(), tmp.get(), p.get(), c) == 1);
    ossl_check(BN_sub(d.get(), p.get(), d.get()) == 1);

    std::array<std::uint8_t, 32> big_endian;
    std::ranges::reverse_copy(encoding, big_endian.begin());
    big_endian[0] &= 0x7f;  // the sign bit of x
    Bn y = bn_from_be(big_endian, new_bn());
    Bn y2 = new_bn(), u = new_bn(), v = new_bn(), w = new_bn(), e = new_bn();
    ossl_check(BN_mod_sqr(y2.get(), y.get(), p.get(), c) == 1);
    ossl_check(BN_mod_sub(u.get(), y2.get(), one.get(), p.get(), c) == 1);
    ossl_check(BN_mod_mul(v.get(), d.get(), y2.get(), p.get(), c) == 1);
    ossl_check(BN_mod_add(v.get(), v.get(), one.get(), p.get(), c) == 1);
    // v is never zero: -1/d is not a square modulo p.
    ossl_check(BN_mod_inverse(v.get(), v.get(), p.get(), c) != nullptr);
    ossl_check(BN_mod_mul(w.get(), u.get(), v.get(), p.get(), c) == 1);
    if (BN_is_zero(w.get())) return true;
    // Euler's criterion: w^((p-1)/2) is 1 exactly for squares.
    ossl_check(BN_sub(e.get(), p.get(), one.get()) == 1 && BN_rshift1(e.get(), e.get()) == 1);
    ossl_check(BN_mod_exp(tmp.get(), w.get(), e.get(), p.get(), c) == 1);
    return BN_is_one(tmp.get());
}

}  // namespace vesk::ed25519
