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

}  // namespace

int main() {
    check(sodium_init() >= 0, "sodium_init");
    const auto holder = key(vesk::Algorithm::Ed25519, 2);
    const std::int64_t now = vesk::unix_now();
    Calls calls;

    // What each suite's calls refer to; kept alive until the end.
    struct Suite {
        vesk::SharedSigningKey issuer;
        std::string token;
        std::string signing_input;
        vesk::Bytes signature;
    };
    std::vector<Suite> suites;
    for (const auto algorithm : {vesk::Algorithm::Ed25519, vesk::Algorithm::P256}) {
        const auto issuer = key(algorithm, 1);
        std::string token = mint(*issuer, *holder);
        const std::size_t dot = token.rfind('.');
        suites.push_back(
            {issuer, token, token.substr(0, dot), *vesk::b64u_decode(token.substr(dot + 1))});
    }
    std::vector<vesk::TctVerifyOptions> options;
    for (const Suite& suite : suites) {
        options.push_back({.issuer_manifest_expires_at = std::nullopt,
                           .expected_audience = holder->aid(),
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
        calls.emplace_back("verify_tct_for_agent_" + suffix, [&suite, &holder, now] {
            check(vesk::verify_tct_for_agent(holder->aid(), suite.token, "read", {}, nullptr, now)
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
    calls.emplace_back("bare_verify_p256", [&p256] {
        const auto* message = reinterpret_cast<const unsigned char*>(p256.signing_input.data());
        check(p256.issuer->verifying_key()
                  .verify(std::span(message, p256.signing_input.size()), p256.signature)
                  .has_value(),
              "bare verify");
    });
    for (const auto& [name, call] : calls) call();  // each works before it is timed
    const auto results = ns_per_call(calls);

    std::printf("{");
    for (std::size_t i = 0; i < results.size(); ++i) {
        std::printf("%s\"%s\": %.1f", i ? ", " : "", results[i].first.c_str(), results[i].second);
    }
    std::printf("}\n");
}
