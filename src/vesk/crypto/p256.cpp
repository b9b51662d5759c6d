#include "vesk/crypto/p256.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/params.h>
#include <sodium.h>

#include <algorithm>
#include <initializer_list>

#include "vesk/crypto/bignum.h"
#include "vesk/crypto/secret.h"
#include "vesk/crypto/sha256.h"

namespace vesk::p256 {
namespace {

using EcGroup = OpensslPtr<EC_GROUP, EC_GROUP_free>;
using EcPoint = OpensslPtr<EC_POINT, EC_POINT_clear_free>;

// The group order n, big-endian.
constexpr std::array<std::uint8_t, 32> kOrder = {
    0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xbc, 0xe6, 0xfa, 0xad, 0xa7, 0x17, 0x9e, 0x84, 0xf3, 0xb9, 0xca, 0xc2, 0xfc, 0x63, 0x25, 0x51};

const EC_GROUP* group() {
    static const EcGroup curve(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
    ossl_check(curve != nullptr);
    return curve.get();
}

const BIGNUM* order() {
    return EC_GROUP_get0_order(group());
}

EcPoint new_point() {
    EcPoint point(EC_POINT_new(group()));
    ossl_check(point != nullptr);
    return point;
}

Point encode(const EC_POINT* point, BN_CTX* ctx) {
    Point out;
    ossl_check(EC_POINT_point2oct(group(), point, POINT_CONVERSION_UNCOMPRESSED, out.data(),
                                  out.size(), ctx) == out.size());
    return out;
}

// True when 0 < v < n; for public values only.
bool scalar_below_order(std::span<const std::uint8_t, 32> v) {
    return std::ranges::any_of(v, [](std::uint8_t b) { return b != 0; }) &&
           std::ranges::lexicographical_compare(v, kOrder);
}

// The DER form OpenSSL verifies, SEQUENCE { INTEGER r, INTEGER s }, written directly: each
// integer in its shortest form, with a zero byte before a leading high bit.
struct Der {
    std::array<std::uint8_t, 72> bytes;
    std::size_t size = 0;
};

Der der_signature(std::span<const std::uint8_t, 32> r, std::span<const std::uint8_t, 32> s) {
    Der out;
    out.bytes[0] = 0x30;
    out.size = 2;
    for (const auto v : {r, s}) {
        const auto head = v.first<31>();
        const std::size_t skip = static_cast<std::size_t>(
            std::ranges::find_if(head, [](std::uint8_t b) { return b != 0; }) - head.begin());
        const bool pad = (v[skip] & 0x80) != 0;
        out.bytes[out.size++] = 0x02;
        out.bytes[out.size++] = static_cast<std::uint8_t>(32 - skip + pad);
        if (pad) out.bytes[out.size++] = 0x00;
        std::copy(v.begin() + skip, v.end(), out.bytes.begin() + out.size);
        out.size += 32 - skip;
    }
    out.bytes[1] = static_cast<std::uint8_t>(out.size - 2);
    return out;
}

// The HMAC-DRBG of RFC 6979 section 3.2, instantiated with SHA-256. OpenSSL computes the HMACs,
// with the processor's SHA instructions where it has them; one context serves them all.
class NonceGenerator {
  public:
    NonceGenerator(std::span<const std::uint8_t, 32> x, std::span<const std::uint8_t, 32> h)
        : mac_(EVP_MAC_CTX_new(hmac_algorithm())) {
        char digest[] = "SHA256";
        const OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
            OSSL_PARAM_construct_end()};
        ossl_check(mac_ != nullptr && EVP_MAC_CTX_set_params(mac_.get(), params) == 1);
        std::ranges::fill(v_.span(), 0x01);
        std::ranges::fill(k_.span(), 0x00);
        const std::uint8_t zero = 0x00, one = 0x01;
        hmac(k_, {v_.span(), {&zero, 1}, x, h});
        hmac(v_, {v_.span()});
        hmac(k_, {v_.span(), {&one, 1}, x, h});
        hmac(v_, {v_.span()});
    }

    void next(std::span<std::uint8_t, 32> candidate) {
        if (started_) {
            const std::uint8_t zero = 0x00;
            hmac(k_, {v_.span(), {&zero, 1}});
            hmac(v_, {v_.span()});
        }
        started_ = true;
        hmac(v_, {v_.span()});
        std::ranges::copy(v_.span(), candidate.begin());
    }

  private:
    static EVP_MAC* hmac_algorithm() {
        static EVP_MAC* const algorithm = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        ossl_check(algorithm != nullptr);
        return algorithm;
    }

    // HMAC under the current key k_; the context is keyed afresh each time.
    void hmac(Secret<32>& out, std::initializer_list<std::span<const std::uint8_t>> parts) {
        ossl_check(EVP_MAC_init(mac_.get(), k_.data(), 32, nullptr) == 1);
        for (auto part : parts) {
            ossl_check(EVP_MAC_update(mac_.get(), part.data(), part.size()) == 1);
        }
        Secret<32> mac;
        std::size_t size = 0;
        ossl_check(EVP_MAC_final(mac_.get(), mac.data(), &size, 32) == 1 && size == 32);
        std::ranges::copy(mac.span(), out.span().begin());
    }

    OpensslPtr<EVP_MAC_CTX, EVP_MAC_CTX_free> mac_;  // wipes its state when freed
    Secret<32> k_, v_;
    bool started_ = false;
};

// k^-1 = k^(n-2) mod n (n is prime), computed in constant time; the exponent and the Montgomery
// form of n are made once.
class OrderInverse {
  public:
    OrderInverse() {
        BnCtx ctx = new_bn_ctx();
        ossl_check(BN_copy(n_minus_2_.get(), order()) != nullptr &&
                   BN_sub_word(n_minus_2_.get(), 2) == 1);
        ossl_check(montgomery_ != nullptr &&
                   BN_MONT_CTX_set(montgomery_.get(), order(), ctx.get()) == 1);
    }

    Bn operator()(const BIGNUM* k, BN_CTX* ctx) const {
        Bn k_inv = new_secret_bn();
        ossl_check(BN_mod_exp_mont_consttime(k_inv.get(), k, n_minus_2_.get(), order(), ctx,
                                             montgomery_.get()) == 1);
        return k_inv;
    }

  private:
    Bn n_minus_2_ = new_bn();
    OpensslPtr<BN_MONT_CTX, BN_MONT_CTX_free> montgomery_{BN_MONT_CTX_new()};
};

// r = x(kG) mod n, s = k^-1 (z + r d) mod n; nothing when r or s is zero.
std::optional<Signature> sign_with_nonce(const BIGNUM* d, const BIGNUM* z, const Secret<32>& nonce,
                                         BN_CTX* ctx) {
    const BIGNUM* n = order();
    Bn k = bn_from_be(nonce.span(), new_secret_bn());
    EcPoint kg = new_point();
    ossl_check(EC_POINT_mul(group(), kg.get(), k.get(), nullptr, nullptr, ctx) == 1);
    Bn x = new_bn();
    ossl_check(EC_POINT_get_affine_coordinates(group(), kg.get(), x.get(), nullptr, ctx) == 1);
    Bn r = new_bn();
    ossl_check(BN_nnmod(r.get(), x.get(), n, ctx) == 1);
    if (BN_is_zero(r.get())) return std::nullopt;

    static const OrderInverse inverse;
    Bn k_inv = inverse(k.get(), ctx);
    Bn rd = new_secret_bn(), sum = new_secret_bn(), s = new_secret_bn();
    ossl_check(BN_mod_mul(rd.get(), r.get(), d, n, ctx) == 1);
    ossl_check(BN_mod_add(sum.get(), z, rd.get(), n, ctx) == 1);
    ossl_check(BN_mod_mul(s.get(), k_inv.get(), sum.get(), n, ctx) == 1);
    if (BN_is_zero(s.get())) return std::nullopt;

    Signature out;
    ossl_check(BN_bn2binpad(r.get(), out.data(), 32) == 32);
    ossl_check(BN_bn2binpad(s.get(), out.data() + 32, 32) == 32);
    return out;
}

}  // namespace

bool scalar_in_range(std::span<const std::uint8_t, 32> k) {
    // sodium_compare reads little-endian numbers in constant time.
    Secret<32> k_le;
    std::array<std::uint8_t, 32> n_le;
    std::ranges::reverse_copy(k, k_le.span().begin());
    std::ranges::reverse_copy(kOrder, n_le.begin());
    const bool below_n = sodium_compare(k_le.data(), n_le.data(), 32) < 0;
    const bool nonzero = sodium_is_zero(k_le.data(), 32) == 0;
    return below_n & nonzero;
}

std::optional<Point> decode_point(std::span<const std::uint8_t> sec1) {
    const bool compressed = sec1.size() == 33 && (sec1[0] == 0x02 || sec1[0] == 0x03);
    const bool uncompressed = sec1.size() == 65 && sec1[0] == 0x04;
    if (!compressed && !uncompressed) return std::nullopt;
    BnCtx ctx = new_bn_ctx();
    EcPoint point = new_point();
    // Decoding checks that the point lies on the curve.
    if (EC_POINT_oct2point(group(), point.get(), sec1.data(), sec1.size(), ctx.get()) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    return encode(point.get(), ctx.get());
}

Compressed compress(const Point& point) {
    Compressed out;
    out[0] = 0x02 | (point[64] & 1);
    std::copy(point.begin() + 1, point.begin() + 33, out.begin() + 1);
    return out;
}

Point public_point(std::span<const std::uint8_t, 32> d) {
    BnCtx ctx = new_bn_ctx();
    Bn k = bn_from_be(d, new_secret_bn());
    EcPoint point = new_point();
    ossl_check(EC_POINT_mul(group(), point.get(), k.get(), nullptr, nullptr, ctx.get()) == 1);
    return encode(point.get(), ctx.get());
}

Signature sign(std::span<const std::uint8_t, 32> d, std::span<const std::uint8_t> message) {
    const Digest h = sha256(message);
    BnCtx ctx = new_bn_ctx();
    // The hash is exactly as long as n, so bits2int is the plain big-endian reading.
    Bn z = bn_from_be(h, new_bn());
    Bn z_mod_n = new_bn();
    ossl_check(BN_nnmod(z_mod_n.get(), z.get(), order(), ctx.get()) == 1);
    std::array<std::uint8_t, 32> h_octets;
    ossl_check(BN_bn2binpad(z_mod_n.get(), h_octets.data(), 32) == 32);

    Bn secret = bn_from_be(d, new_secret_bn());
    NonceGenerator nonces(d, h_octets);
    for (;;) {
        Secret<32> k;
        nonces.next(k.span());
        if (!scalar_in_range(k.span())) continue;
        if (auto signature = sign_with_nonce(secret.get(), z.get(), k, ctx.get()))
            return *signature;
    }
}

Verifier::Verifier(const Point& point) {
    char group_name[] = "prime256v1";
    Point public_bytes = point;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group_name, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, public_bytes.data(),
                                          public_bytes.size()),
        OSSL_PARAM_construct_end()};
    OpensslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free> key_ctx(
        EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* raw_key = nullptr;
    ossl_check(key_ctx != nullptr && EVP_PKEY_fromdata_init(key_ctx.get()) == 1 &&
               EVP_PKEY_fromdata(key_ctx.get(), &raw_key, EVP_PKEY_PUBLIC_KEY, params) == 1);
    OpensslPtr<EVP_PKEY, EVP_PKEY_free> key(raw_key);
    // The context holds its own reference to the key.
    context_.reset(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    ossl_check(context_ != nullptr && EVP_PKEY_verify_init(context_.get()) == 1);
}

bool Verifier::verify(std::span<const std::uint8_t> message,
                      std::span<const std::uint8_t> signature) {
    if (signature.size() != 64) return false;
    const auto r = signature.first<32>(), s = signature.last<32>();
    if (!scalar_below_order(r) || !scalar_below_order(s)) return false;
    const Der der = der_signature(r, s);
    const Digest digest = sha256(message);
    const int verdict =
        EVP_PKEY_verify(context_.get(), der.bytes.data(), der.size, digest.data(), digest.size());
    ERR_clear_error();
    return verdict == 1;
}

}  // namespace vesk::p256
