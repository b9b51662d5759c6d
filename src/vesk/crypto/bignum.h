// OpenSSL big numbers for the curve arithmetic, owned and checked.
#pragma once

#include <openssl/bn.h>

#include <cstdint>
#include <span>

#include "vesk/core/fault.h"
#include "vesk/crypto/openssl_ptr.h"

namespace vesk {

using Bn = OpensslPtr<BIGNUM, BN_clear_free>;
using BnCtx = OpensslPtr<BN_CTX, BN_CTX_free>;

// OpenSSL reports failure as 0 (or a null pointer) only when it runs out of memory here.
inline void ossl_check(bool ok) {
    if (!ok) fault("OpenSSL big-number operation failed");
}

inline Bn new_bn() {
    Bn bn(BN_new());
    ossl_check(bn != nullptr);
    return bn;
}

// A secret value: every operation on it takes the constant-time code paths.
inline Bn new_secret_bn() {
    Bn bn = new_bn();
    BN_set_flags(bn.get(), BN_FLG_CONSTTIME);
    return bn;
}

inline Bn bn_from_be(std::span<const std::uint8_t> bytes, Bn bn) {
    ossl_check(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), bn.get()) != nullptr);
    return bn;
}

inline BnCtx new_bn_ctx() {
    BnCtx ctx(BN_CTX_secure_new());
    ossl_check(ctx != nullptr);
    return ctx;
}

}  // namespace vesk
