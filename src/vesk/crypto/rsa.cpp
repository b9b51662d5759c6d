#include "vesk/crypto/rsa.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <bit>

#include "vesk/core/fault.h"
#include "vesk/crypto/bignum.h"

namespace vesk {
namespace {

using Span = std::span<const std::uint8_t>;
using ParamBldPtr = OpensslPtr<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using ParamsPtr = OpensslPtr<OSSL_PARAM, OSSL_PARAM_free>;
using PkeyCtxPtr = OpensslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using MdCtxPtr = OpensslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;

constexpr std::uint64_t kMaxExponent = (std::uint64_t{1} << 33) - 1;

std::unexpected<RsaError> fail(RsaError::Kind kind) {
    return std::unexpected(RsaError{kind});
}

std::size_t bit_length(Span minimal) {
    return minimal.size() * 8 - static_cast<std::size_t>(std::countl_zero(minimal[0]));
}

std::expected<void, RsaError> check_exponent(Span exponent) {
    // At most five bytes: anything longer exceeds the largest exponent taken.
    if (exponent.empty() || exponent.size() > 5 || exponent[0] == 0) {
        return fail(RsaError::Kind::Exponent);
    }
    std::uint64_t value = 0;
    for (std::uint8_t byte : exponent) value = (value << 8) | byte;
    if (value % 2 == 0 || value < 3 || value > kMaxExponent) return fail(RsaError::Kind::Exponent);
    return {};
}

}  // namespace

std::expected<RsaPublicKey, RsaError> RsaPublicKey::from_components(Span modulus, Span exponent) {
    if (modulus.empty() || modulus[0] == 0) return fail(RsaError::Kind::ModulusEncoding);
    std::size_t bits = bit_length(modulus);
    if (bits < kMinBits || bits > kMaxBits) return fail(RsaError::Kind::ModulusSize);
    if (modulus.back() % 2 == 0) return fail(RsaError::Kind::ModulusEven);
    if (auto checked = check_exponent(exponent); !checked) return std::unexpected(checked.error());

    Bn n = bn_from_be(modulus, new_bn());
    Bn e = bn_from_be(exponent, new_bn());
    ParamBldPtr builder(OSSL_PARAM_BLD_new());
    if (!builder || OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1) {
        fault("building RSA key parameters failed");
    }
    ParamsPtr params(OSSL_PARAM_BLD_to_param(builder.get()));
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        fault("importing an RSA public key failed");
    }
    return RsaPublicKey(KeyPtr(raw), bits);
}

std::expected<void, RsaError> RsaPublicKey::verify_rs256(Span message, Span signature) const {
    if (signature.size() != (modulus_bits_ + 7) / 8) return fail(RsaError::Kind::SignatureInvalid);
    MdCtxPtr md(EVP_MD_CTX_new());
    if (!md || EVP_DigestVerifyInit_ex(md.get(), nullptr, "SHA256", nullptr, nullptr, key_.get(),
                                       nullptr) != 1) {
        fault("starting an RSA verification failed");
    }
    static constexpr std::uint8_t kNothing = 0;
    const std::uint8_t* input = message.empty() ? &kNothing : message.data();
    int verified =
        EVP_DigestVerify(md.get(), signature.data(), signature.size(), input, message.size());
    ERR_clear_error();  // a refusal leaves its reasons on the thread's error queue
    if (verified != 1) return fail(RsaError::Kind::SignatureInvalid);
    return {};
}

std::expected<void, RsaError> verify_rs256(Span modulus, Span exponent, Span message,
                                           Span signature) {
    auto key = RsaPublicKey::from_components(modulus, exponent);
    if (!key) return std::unexpected(key.error());
    return key->verify_rs256(message, signature);
}

}  // namespace vesk
