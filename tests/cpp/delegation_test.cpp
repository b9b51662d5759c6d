// Delegation in C++: what Python cannot reach (chains, the exact clock, claim reading, the
// builder's own checks). The single-hop surface is tested from Python.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "fixtures.h"
#include "vesk/crypto/jws.h"
#include "vesk/delegation/builder.h"
#include "vesk/delegation/claims.h"
#include "vesk/delegation/verifier.h"
#include "vesk/tokens/mint.h"

namespace vesk {
namespace {

using namespace vesk::testing;

constexpr std::int64_t kNow = 1'700'000'000;
constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();
const Uuid kJtis[] = {*Uuid::parse("11111111-1111-4111-8111-111111111111"),
                      *Uuid::parse("22222222-2222-4222-8222-222222222222"),
                      *Uuid::parse("33333333-3333-4333-8333-333333333333")};

using Edit = std::function<void(DelegationClaims&)>;

// A (root grantor and verifier) grants B; a chain runs B -> C -> D -> E.
struct Delegation : ::testing::Test {
    SharedSigningKey a = ed25519_key(1), b = ed25519_key(2), c = ed25519_key(3), d = p256_key(4),
                     e = ed25519_key(5);
    const SigningKey* parties[4] = {b.get(), c.get(), d.get(), e.get()};
    MintedTct grant = mint(*b, kNow + 600);

    MintedTct mint(const SigningKey& holder, std::int64_t exp) const {
        TctMintRequest request(*a);
        request.issued_at = kNow - 10;
        request.ttl_secs = exp - (kNow - 10);
        request.subject_pubkey = holder.verifying_key();
        request.grants = {"read", "write"};
        request.subject = holder.aid();
        request.audience = holder.aid();
        return *mint_tct(std::move(request));
    }

    DelegationClaims hop(const SigningKey& from, const SigningKey& to, std::int64_t exp) const {
        return {"vesk/0.2",
                from.aid(),
                to.aid(),
                a->aid(),
                {"read"},
                exp,
                Cnf{jwk_thumbprint(to.verifying_key())},
                {},
                {},
                {},
                {},
                {}};
    }
    static void record_chain(DelegationClaims& claims, std::vector<std::string> chain) {
        claims.chain_hash = *delegation_chain_hash(chain);
        claims.chain = std::move(chain);
    }
    // Signed by whichever party the claims name as issuer.
    std::string sign(const DelegationClaims& claims) const {
        for (const SigningKey* key : {a.get(), b.get(), c.get(), d.get(), e.get()}) {
            if (key->aid() == claims.iss) return *sign_delegation_token(*key, claims);
        }
        return {};
    }

    // A chain of `length` hops from B, outer token last; `edit` changes hop `at` just before
    // it is signed, and the hops after it record the changed text.
    std::vector<std::string> chain(std::size_t length, std::size_t at = 99,
                                   const Edit& edit = {}) const {
        std::vector<std::string> tokens;
        for (std::size_t i = 0; i < length; ++i) {
            DelegationClaims claims =
                hop(*parties[i], *parties[i + 1], kNow + 300 - static_cast<std::int64_t>(i));
            claims.jti = kJtis[i];
            if (i == 0) claims.voucher = *grant.grant_voucher;
            if (i > 0) record_chain(claims, tokens);
            if (i == at) edit(claims);
            tokens.push_back(sign(claims));
        }
        return tokens;
    }

    std::string outcome(std::string_view token, std::uint64_t max_hops = 0,
                        const std::set<std::string>& revoked = {}) const {
        const RevokedJtiSet root(revoked);
        const RevokedHopSet hops(revoked);
        const DelegationVerifyOptions options{.verifier = a->aid(),
                                              .now = kNow,
                                              .max_delegation_hops = max_hops,
                                              .root_revocation_check = &root,
                                              .hop_revocation_check = &hops};
        return testing::outcome(verify_delegation_core(token, options));
    }
};

TEST(DelegationChainHash, DigestsEachTokenThenTheCanonicalArray) {
    EXPECT_EQ(*delegation_chain_hash(std::vector<std::string>{"abc"}),
              "hllYEeaCeSRbT3qohkkrRK4jTt36Zo7KGVnXnej1ArI");
    EXPECT_EQ(*delegation_chain_hash({}), "T1PNoYwrqgwDVLtfmj7L5e0Sq02OEbqHPC8RFhICuUU");
    EXPECT_NE(*delegation_chain_hash(std::vector<std::string>{"a", "b"}),
              *delegation_chain_hash(std::vector<std::string>{"b", "a"}));
}

TEST_F(Delegation, BuilderCapsExpiryWithoutOverflowAndNeedsADelegatee) {
    // The exp member as written in the signed claims.
    auto exp_of = [&](std::int64_t now, std::int64_t ttl) {
        DelegationBuildRequest request(*b, *grant.grant_voucher, now);
        request.delegatee = c->aid();
        request.scope = {"read"};
        request.ttl_secs = ttl;
        const std::string text(jws::decode_payload(*build_delegation(request))->payload_text());
        const std::size_t at = text.find(R"("exp":)") + 6;
        return text.substr(at, text.find(',', at) - at);
    };
    EXPECT_EQ(exp_of(kNow, 60), std::to_string(kNow + 60));
    EXPECT_EQ(exp_of(kI64Min + 5, kI64Min), "-9223372036854776000");

    DelegationBuildRequest request(*b, *grant.grant_voucher, kNow);
    request.scope = {"read"};
    EXPECT_EQ(build_delegation(request).error().text(), "missing required field: delegatee");
}

TEST_F(Delegation, SingleHopExpiryBoundsAreInclusive) {
    const MintedTct ending_now = mint(*b, kNow), ended = mint(*b, kNow - 1);
    const struct {
        std::int64_t exp;
        const MintedTct* voucher;
        std::string expected;
    } cases[] = {
        {kNow, &grant, "ok"},
        {kNow - 1, &grant, "delegation token or grant proof has expired"},
        {kNow, &ending_now, "ok"},
        {kNow, &ended, "delegation token or grant proof has expired"},
        {kNow + 600, &grant, "ok"},
        {kNow + 601, &grant, "delegation token or grant proof has expired"},
    };
    for (const auto& test : cases) {
        DelegationClaims claims = hop(*b, *c, test.exp);
        claims.voucher = *test.voucher->grant_voucher;
        EXPECT_EQ(outcome(sign(claims)), test.expected) << test.exp - kNow;
    }
}

TEST_F(Delegation, ChainsAreWalkedHopByHop) {
    const MintedTct to_c = mint(*c, kNow + 600);
    const auto tokens = chain(2);
    const struct {
        const char* name;
        std::size_t length, at;
        Edit edit;
        std::uint64_t max_hops;
        std::string expected;
    } cases[] = {
        {"one chain token", 2, 99, {}, 3, "ok"},
        {"one chain token, 2 hops allowed", 2, 99, {}, 2, "delegation hop limit exceeded"},
        {"two chain tokens", 3, 99, {}, 3, "delegation hop limit exceeded"},
        {"two chain tokens, 4 hops allowed", 3, 99, {}, 4, "ok"},
        {"no outer hash", 2, 1, [](auto& t) { t.chain_hash.reset(); }, 3,
         "delegation chain_hash mismatch"},
        {"outer hash of another chain", 2, 1,
         [](auto& t) { t.chain_hash = *delegation_chain_hash({}); }, 3,
         "delegation chain_hash mismatch"},
        // The first hop carries the voucher.
        {"first hop without voucher", 2, 0, [](auto& t) { t.voucher.reset(); }, 3,
         "delegation voucher is invalid"},
        {"voucher issued to another", 2, 0, [&](auto& t) { t.voucher = *to_c.grant_voucher; }, 3,
         "delegation voucher is invalid"},
        {"first hop outlives the voucher", 2, 0, [](auto& t) { t.exp = kNow + 601; }, 3,
         "delegation token or grant proof has expired"},
        {"first hop without jti", 2, 0, [](auto& t) { t.jti.reset(); }, 3,
         "delegation voucher is invalid"},
        // Every later hop follows the one before it.
        {"not from the previous subject", 2, 1, [&](auto& t) { t.iss = e->aid(); }, 3,
         "delegation voucher is invalid"},
        {"later hop with a voucher", 2, 1, [&](auto& t) { t.voucher = *grant.grant_voucher; }, 3,
         "delegation voucher is invalid"},
        {"jti reused", 2, 1, [](auto& t) { t.jti = kJtis[0]; }, 3, "delegation voucher is invalid"},
        {"outlives the previous hop", 2, 1, [](auto& t) { t.exp = kNow + 301; }, 3,
         "delegation token or grant proof has expired"},
        {"wider than the previous hop", 2, 1,
         [](auto& t) {
             t.scope = {"read", "write"};
         },
         3, "delegation scope exceeds grant proof capabilities"},
        // A chain token's own record of the chain before it must be exact.
        {"first hop records an empty chain", 2, 0, [](auto& t) { record_chain(t, {}); }, 3, "ok"},
        {"first hop records a chain", 2, 0, [](auto& t) { record_chain(t, {"x"}); }, 3,
         "delegation voucher is invalid"},
        {"first hop records an unhashed chain", 2, 0, [](auto& t) { t.chain.emplace(); }, 3,
         "delegation voucher is invalid"},
        {"middle hop records nothing", 3, 1, [](auto& t) { t.chain.reset(); }, 4, "ok"},
        {"middle hop records another token", 3, 1,
         [&](auto& t) { record_chain(t, {tokens[0] + "x"}); }, 4, "delegation voucher is invalid"},
        {"middle hop with a wrong hash", 3, 1,
         [](auto& t) { t.chain_hash = *delegation_chain_hash({}); }, 4,
         "delegation voucher is invalid"},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(outcome(chain(test.length, test.at, test.edit).back(), test.max_hops),
                  test.expected)
            << test.name;
    }
}

TEST_F(Delegation, LimitsAndHashesAreCheckedBeforeAnySignature) {
    std::vector<std::string> tokens = chain(2);
    EXPECT_EQ(outcome(tampered(tokens[1]), 2), "delegation hop limit exceeded");
    EXPECT_EQ(outcome(tampered(tokens[1]), 3), "delegation signature is invalid");
    DelegationClaims outer = hop(*c, *d, kNow + 100);
    outer.jti = kJtis[1];
    outer.chain = {tampered(tokens[0])};
    EXPECT_EQ(outcome(sign(outer), 3), "delegation chain_hash mismatch");
    record_chain(outer, {tampered(tokens[0])});
    EXPECT_EQ(outcome(sign(outer), 3), "delegation signature is invalid");
}

TEST_F(Delegation, VerifiedChainNamesItsEndsAndEveryHopCanBeRevoked) {
    const std::string outer = chain(3).back();
    const DelegationVerifyOptions options{
        .verifier = a->aid(), .now = kNow, .max_delegation_hops = 4};
    auto verified = verify_delegation_core(outer, options);
    ASSERT_TRUE(verified);
    const DelegationVerified result = DelegationVerified::from_verified(*verified);
    EXPECT_EQ(result.delegator, a->aid().as_str());
    EXPECT_EQ(result.issued_by, d->aid().as_str());
    EXPECT_EQ(result.delegatee, e->aid().as_str());
    EXPECT_EQ(result.cnf, jwk_thumbprint(e->verifying_key()));
    EXPECT_EQ(result.expires_at, kNow + 298);

    for (const Uuid& jti : {kJtis[0], kJtis[1], kJtis[2], grant.claims.jti}) {
        EXPECT_EQ(outcome(outer, 4, {jti.to_string()}), "source TCT has been revoked");
    }
    EXPECT_EQ(outcome(outer, 4, {"33333333333343338333333333333333"}), "ok");
}

}  // namespace
}  // namespace vesk
