#include "vesk/crypto/ed25519.h"

#include <algorithm>
#include <array>

#include "vesk/crypto/bignum.h"

namespace vesk::ed25519 {
namespace {

// p = 2^255 - 19 and d = -121665 / 121666 mod p, computed once.
struct Field {
    Bn p = new_bn();
    Bn d = new_bn();

    Field() {
        BnCtx ctx(BN_CTX_new());
        ossl_check(ctx != nullptr);
        Bn tmp = new_bn();
        ossl_check(BN_set_bit(p.get(), 255) == 1 && BN_sub_word(p.get(), 19) == 1);
        ossl_check(BN_set_word(tmp.get(), 121666) == 1);
        ossl_check(BN_mod_inverse(d.get(), tmp.get(), p.get(), ctx.get()) != nullptr);
        ossl_check(BN_mul_word(d.get(), 121665) == 1);
        ossl_check(BN_nnmod(d.get(), d.get(), p.get(), ctx.get()) == 1);
        ossl_check(BN_sub(d.get(), p.get(), d.get()) == 1);
    }
};

}  // namespace

bool is_curve_point(std::span<const std::uint8_t, 32> encoding) {
    static const Field field;
    BnCtx ctx(BN_CTX_new());
    ossl_check(ctx != nullptr);
    BN_CTX* c = ctx.get();
    const BIGNUM* p = field.p.get();

    std::array<std::uint8_t, 32> big_endian;
    std::ranges::reverse_copy(encoding, big_endian.begin());
    big_endian[0] &= 0x7f;  // the sign bit of x
    Bn y = bn_from_be(big_endian, new_bn());
    Bn y2 = new_bn(), u = new_bn(), v = new_bn();
    ossl_check(BN_mod_sqr(y2.get(), y.get(), p, c) == 1);
    ossl_check(BN_mod_sub(u.get(), y2.get(), BN_value_one(), p, c) == 1);
    ossl_check(BN_mod_mul(v.get(), field.d.get(), y2.get(), p, c) == 1);
    ossl_check(BN_mod_add(v.get(), v.get(), BN_value_one(), p, c) == 1);
    // x^2 = u / v has a root exactly when u * v is a square (v is never zero, since -1/d is
    // not a square modulo p); the Jacobi symbol tells without an exponentiation.
    ossl_check(BN_mod_mul(u.get(), u.get(), v.get(), p, c) == 1);
    if (BN_is_zero(u.get())) return true;
    const int symbol = BN_kronecker(u.get(), p, c);
    ossl_check(symbol != -2);
    return symbol == 1;
}

}  // namespace vesk::ed25519
