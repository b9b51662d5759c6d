// Cost of the core's TCT verification against one bare verify of the same token, by libsodium
// (Ed25519) or OpenSSL (P-256), in one run; and the bare signs and verifies that the Python
// benchmarks weigh handshakes and other checks against. Prints one JSON object: nanoseconds per
// call of each measured operation.
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "vesk/core/base64url.h"
#include "vesk/core/clock.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/openssl_ptr.h"
#include "vesk/tokens/mint.h"
#include "vesk/tokens/verify.h"

namespace {

using Clock = std::chrono::steady_clock;

using Calls = std::vector<std::pair<std::string, std::function<void()>>>;

// Mean nanoseconds per call of each, the best of several rounds. The rounds of all calls are
// interleaved, so that load from elsewhere on the machine falls on all of them alike.
std::vector<std::pair<std::string, double>> ns_per_call(const Calls& calls) {
    constexpr int rounds = 15;
    std::vector<std::size_t> numbers;
    for (const auto& [name, call] : calls) {
        std::size_t number = 1;
        for (;;) {
            const auto start = Clock::now();
            for (std::size_t i = 0; i < number; ++i) call();
            if (Clock::now() - start > std::chrono::milliseconds(30)) break;
            number *= 2;
        }
        numbers.push_back(number);
    }
    std::vector<std::pair<std::string, double>> best;
    for (const auto& [name, call] : calls) best.emplace_back(name, 1e300);
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t c = 0; c < calls.size(); ++c) {
            const auto start = Clock::now();
            for (std::size_t i = 0; i < numbers[c]; ++i) calls[c].second();
            const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
            best[c].second =
                std::min(best[c].second, spent.count() / static_cast<double>(numbers[c]));
        }
    }
    return best;
}

vesk::SharedSigningKey key(vesk::Algorithm algorithm, std::uint8_t fill) {
    std::array<std::uint8_t, 32> seed;
    seed.fill(fill);
    return algorithm == vesk::Algorithm::P256 ? *vesk::SigningKey::from_p256_scalar(seed)
                                              : vesk::SigningKey::from_ed25519_seed(seed);
}

std::string mint(const vesk::SigningKey& issuer, const vesk::SigningKey& holder) {
    vesk::TctMintRequest request(issuer);
    request.subject = holder.aid();
    request.audience = holder.aid();
    request.subject_pubkey = holder.verifying_key();
    request.grants = {"read", "write"};
    request.with_grant_voucher = false;
    return mint_tct(std::move(request))->token;
}

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "benchmark setup failed: %s\n", what);
        std::exit(1);
    }
}

using Pkey = vesk::OpensslPtr<EVP_PKEY, EVP_PKEY_free>;
using PkeyContext = vesk::OpensslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using Signature = vesk::OpensslPtr<ECDSA_SIG, ECDSA_SIG_free>;

// An OpenSSL P-256 key built once, as a program that holds a key would, with the public point
// and, for signing, the scalar.
Pkey openssl_p256_key(const vesk::SigningKey& key, std::span<const std::uint8_t, 32> scalar,
                      bool with_private) {
    auto point = *key.verifying_key().p256_uncompressed();
    vesk::OpensslPtr<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free> build(OSSL_PARAM_BLD_new());
    vesk::OpensslPtr<BIGNUM, BN_clear_free> d(BN_bin2bn(scalar.data(), 32, nullptr));
    check(build && d, "key parameters");
    check(OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1",
                                          0) == 1 &&
              OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                               point.size()) == 1 &&
              (!with_private ||
               OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_PRIV_KEY, d.get()) == 1),
          "key parameters");
    vesk::OpensslPtr<OSSL_PARAM, OSSL_PARAM_free> params(OSSL_PARAM_BLD_to_param(build.get()));
    PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* made = nullptr;
    check(params && context && EVP_PKEY_fromdata_init(context.get()) == 1 &&
              EVP_PKEY_fromdata(context.get(), &made,
                                with_private ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                                params.get()) == 1,
          "OpenSSL key");
    return Pkey(made);
}

std::array<unsigned char, 32> openssl_sha256(std::span<const unsigned char> message) {
    std::array<unsigned char, 32> digest;
    check(EVP_Digest(message.data(), message.size(), digest.data(), nullptr, EVP_sha256(),
                     nullptr) == 1,
          "SHA-256");
    return digest;
}

// The bare P-256 operations, the way `openssl speed ecdsap256` runs them: one context per key,
// set up once, signing or verifying a SHA-256 digest. The 64-byte r || s signatures are
// converted to and from DER, as OpenSSL needs.
bool bare_p256_verify(EVP_PKEY_CTX* context, std::span<const unsigned char> message,
                      std::span<const std::uint8_t> signature) {
    const auto digest = openssl_sha256(message);
    Signature sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
    check(sig && r && s && ECDSA_SIG_set0(sig.get(), r, s) == 1, "signature");
    unsigned char der[80];
    unsigned char* end = der;
    const int size = i2d_ECDSA_SIG(sig.get(), &end);
    return EVP_PKEY_verify(context, der, static_cast<std::size_t>(size), digest.data(),
                           digest.size()) == 1;
}

std::array<unsigned char, 64> bare_p256_sign(EVP_PKEY_CTX* context,
                                             std::span<const unsigned char> message) {
    const auto digest = openssl_sha256(message);
    unsigned char der[80];
    std::size_t size = sizeof der;
    check(EVP_PKEY_sign(context, der, &size, digest.data(), digest.size()) == 1, "bare sign");
    const unsigned char* cursor = der;
    Signature sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size)));
    std::array<unsigned char, 64> out;
    check(sig && BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), out.data(), 32) == 32 &&
              BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), out.data() + 32, 32) == 32,
          "bare sign");
    return out;
}

}  // namespace

int main() {
    check(sodium_init() >= 0, "sodium_init");
    const std::int64_t now = vesk::unix_now();
    Calls calls;

    // What each suite's calls refer to; kept alive until the end.
    struct Suite {
        vesk::SharedSigningKey issuer;
        vesk::SharedSigningKey holder;
        std::string token;
        std::string signing_input;
        vesk::Bytes signature;
    };
    std::vector<Suite> suites;
    // Each suite's issuer and holder are of the same suite.
    for (const auto algorithm : {vesk::Algorithm::Ed25519, vesk::Algorithm::P256}) {
        const auto issuer = key(algorithm, 1), holder = key(algorithm, 2);
        std::string token = mint(*issuer, *holder);
        const std::size_t dot = token.rfind('.');
        suites.push_back({issuer, holder, token, token.substr(0, dot),
                          *vesk::b64u_decode(token.substr(dot + 1))});
    }
    std::vector<vesk::TctVerifyOptions> options;
    for (const Suite& suite : suites) {
        options.push_back({.issuer_manifest_expires_at = std::nullopt,
                           .expected_audience = suite.holder->aid(),
                           .issuer = suite.issuer->aid(),
                           .now = now,
                           .revocation_check = nullptr,
                           .clock_skew_secs = 0});
    }
    for (std::size_t i = 0; i < suites.size(); ++i) {
        const Suite& suite = suites[i];
        const vesk::TctVerifyOptions& option = options[i];
        const std::string suffix = i == 0 ? "ed25519" : "p256";
        calls.emplace_back("verify_tct_token_" + suffix, [&suite, &option] {
            check(vesk::verify_tct_token(suite.token, option).has_value(), "verify_tct_token");
        });
        calls.emplace_back("verify_tct_for_agent_" + suffix, [&suite, now] {
            check(vesk::verify_tct_for_agent(suite.holder->aid(), suite.token, "read", {}, nullptr,
                                             now)
                      .has_value(),
                  "verify_tct_for_agent");
        });
    }

    const Suite& ed = suites[0];
    const auto ed_public = *ed.issuer->ed25519_public_key();
    calls.emplace_back("bare_verify_ed25519", [&ed, &ed_public] {
        check(crypto_sign_verify_detached(
                  ed.signature.data(),
                  reinterpret_cast<const unsigned char*>(ed.signing_input.data()),
                  ed.signing_input.size(), ed_public.data()) == 0,
              "bare verify");
    });
    // Handshakes are weighed against bare signs too: of a 32-byte digest, as they sign.
    std::array<unsigned char, 32> seed;
    seed.fill(1);
    std::array<unsigned char, 32> pk;
    std::array<unsigned char, 64> sk;
    std::array<unsigned char, 64> made;
    crypto_sign_seed_keypair(pk.data(), sk.data(), seed.data());
    calls.emplace_back("bare_sign_ed25519", [&] {
        crypto_sign_detached(made.data(), nullptr, seed.data(), seed.size(), sk.data());
    });
    const Suite& p256 = suites[1];
    std::array<std::uint8_t, 32> scalar;
    scalar.fill(1);
    const Pkey verifying = openssl_p256_key(*p256.issuer, scalar, false);
    const Pkey signing = openssl_p256_key(*p256.issuer, scalar, true);
    const PkeyContext verify_context(EVP_PKEY_CTX_new_from_pkey(nullptr, verifying.get(), nullptr));
    const PkeyContext sign_context(EVP_PKEY_CTX_new_from_pkey(nullptr, signing.get(), nullptr));
    check(verify_context && EVP_PKEY_verify_init(verify_context.get()) == 1 && sign_context &&
              EVP_PKEY_sign_init(sign_context.get()) == 1,
          "OpenSSL contexts");
    const auto* p256_message = reinterpret_cast<const unsigned char*>(p256.signing_input.data());
    const std::span p256_input(p256_message, p256.signing_input.size());
    calls.emplace_back("bare_verify_p256", [&] {
        check(bare_p256_verify(verify_context.get(), p256_input, p256.signature), "bare verify");
    });
    check(bare_p256_verify(verify_context.get(), seed, bare_p256_sign(sign_context.get(), seed)),
          "bare sign");
    calls.emplace_back("bare_sign_p256", [&] { (void)bare_p256_sign(sign_context.get(), seed); });
    calls.emplace_back("sign_p256", [&] { (void)p256.issuer->sign(seed); });
    for (const auto& [name, call] : calls) call();  // each works before it is timed
    const auto results = ns_per_call(calls);

    std::printf("{");
    for (std::size_t i = 0; i < results.size(); ++i) {
        std::printf("%s\"%s\": %.1f", i ? ", " : "", results[i].first.c_str(), results[i].second);
    }
    std::printf("}\n");
}
