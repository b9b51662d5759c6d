// Cost of the core's TCT verification against one bare libsodium Ed25519 verify of the same
// token, in one run. Prints one JSON object: nanoseconds per call of each measured operation.
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
#include "vesk/tokens/mint.h"
#include "vesk/tokens/verify.h"

namespace {

using Clock = std::chrono::steady_clock;

// Best of five mean nanoseconds per call, each round lasting about 0.2 s.
double ns_per_call(const std::function<void()>& call) {
    std::size_t number = 1;
    for (;;) {
        const auto start = Clock::now();
        for (std::size_t i = 0; i < number; ++i) call();
        if (Clock::now() - start > std::chrono::milliseconds(20)) break;
        number *= 2;
    }
    number *= 10;
    double best = 1e300;
    for (int round = 0; round < 5; ++round) {
        const auto start = Clock::now();
        for (std::size_t i = 0; i < number; ++i) call();
        const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
        best = std::min(best, spent.count() / static_cast<double>(number));
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

}  // namespace

int main() {
    check(sodium_init() >= 0, "sodium_init");
    const auto holder = key(vesk::Algorithm::Ed25519, 2);
    std::vector<std::pair<std::string, double>> results;

    for (const auto algorithm : {vesk::Algorithm::Ed25519, vesk::Algorithm::P256}) {
        const bool ed = algorithm == vesk::Algorithm::Ed25519;
        const auto issuer = key(algorithm, 1);
        const std::string token = mint(*issuer, *holder);
        const std::int64_t now = vesk::unix_now();
        const vesk::TctVerifyOptions options{.issuer_manifest_expires_at = std::nullopt,
                                             .expected_audience = holder->aid(),
                                             .issuer = issuer->aid(),
                                             .now = now,
                                             .revocation_check = nullptr,
                                             .clock_skew_secs = 0};
        check(vesk::verify_tct_token(token, options).has_value(), "verify_tct_token");
        check(
            vesk::verify_tct_for_agent(holder->aid(), token, "read", {}, nullptr, now).has_value(),
            "verify_tct_for_agent");
        const std::string suffix = ed ? "ed25519" : "p256";
        results.emplace_back("verify_tct_token_" + suffix, ns_per_call([&] {
                                 auto verified = vesk::verify_tct_token(token, options);
                                 check(verified.has_value(), "verify");
                             }));
        results.emplace_back("verify_tct_for_agent_" + suffix, ns_per_call([&] {
                                 auto verified = vesk::verify_tct_for_agent(
                                     holder->aid(), token, "read", {}, nullptr, now);
                                 check(verified.has_value(), "verify");
                             }));

        const std::size_t dot = token.rfind('.');
        const std::string signing_input = token.substr(0, dot);
        const auto signature = *vesk::b64u_decode(token.substr(dot + 1));
        const auto* message = reinterpret_cast<const unsigned char*>(signing_input.data());
        if (ed) {
            const auto public_key = *issuer->ed25519_public_key();
            check(crypto_sign_verify_detached(signature.data(), message, signing_input.size(),
                                              public_key.data()) == 0,
                  "bare verify");
            // Handshakes are weighed against bare signs too: a 32-byte digest, as they sign.
            std::array<unsigned char, 32> seed;
            seed.fill(1);
            std::array<unsigned char, 32> pk;
            std::array<unsigned char, 64> sk;
            std::array<unsigned char, 64> made;
            crypto_sign_seed_keypair(pk.data(), sk.data(), seed.data());
            results.emplace_back("bare_sign_ed25519", ns_per_call([&] {
                                     crypto_sign_detached(made.data(), nullptr, seed.data(),
                                                          seed.size(), sk.data());
                                 }));
            results.emplace_back(
                "bare_verify_ed25519", ns_per_call([&] {
                    check(crypto_sign_verify_detached(signature.data(), message,
                                                      signing_input.size(), public_key.data()) == 0,
                          "bare verify");
                }));
        } else {
            const vesk::VerifyingKey& public_key = issuer->verifying_key();
            results.emplace_back(
                "bare_verify_p256", ns_per_call([&] {
                    check(public_key.verify(std::span(message, signing_input.size()), signature)
                              .has_value(),
                          "bare verify");
                }));
        }
    }

    std::printf("{");
    for (std::size_t i = 0; i < results.size(); ++i) {
        std::printf("%s\"%s\": %.1f", i ? ", " : "", results[i].first.c_str(), results[i].second);
    }
    std::printf("}\n");
}
