#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "tct_support.h"
#include "vesk/core/unknown_field.h"
#include "vesk/crypto/jws.h"
#include "vesk/delegation/builder.h"
#include "vesk/delegation/claims.h"
#include "vesk/delegation/verifier.h"
#include "vesk/tokens/mint.h"

namespace vesk {
namespace {

using namespace vesk::testing;

constexpr std::int64_t kNow = 1'700'000'000;
const Uuid kJti1 = *Uuid::parse("11111111-1111-4111-8111-111111111111");
const Uuid kJti2 = *Uuid::parse("22222222-2222-4222-8222-222222222222");
const Uuid kJti3 = *Uuid::parse("33333333-3333-4333-8333-333333333333");

// A (root grantor and verifier) grants B; B delegates to C; C to D; D to E.
struct Delegation : ::testing::Test {
    SharedSigningKey a = ed25519_key(1);
    SharedSigningKey b = ed25519_key(2);
    SharedSigningKey c = ed25519_key(3);
    SharedSigningKey d = p256_key(4);
    SharedSigningKey e = ed25519_key(5);
    MintedTct grant = mint(*a, *b, kNow + 600);

    MintedTct mint(const SigningKey& issuer, const SigningKey& holder, std::int64_t exp) const {
        TctMintRequest request(issuer);
        request.issued_at = kNow - 10;
        request.ttl_secs = exp - (kNow - 10);
        request.subject_pubkey = holder.verifying_key();
        request.grants = {"read", "write", "admin"};
        request.subject = holder.aid();
        request.audience = holder.aid();
        return *mint_tct(std::move(request));
    }
    const std::string& voucher() const { return *grant.grant_voucher; }

    DelegationClaims hop(const SigningKey& from, const SigningKey& to,
                         std::vector<std::string> scope, std::int64_t exp) const {
        DelegationClaims claims;
        claims.ver = "vesk/0.2";
        claims.iss = from.aid();
        claims.sub = to.aid();
        claims.aud = a->aid();
        claims.scope = std::move(scope);
        claims.exp = exp;
        claims.cnf = Cnf{*jwk_thumbprint(to.verifying_key())};
        return claims;
    }
    static DelegationClaims chained(DelegationClaims claims, std::vector<std::string> chain) {
        claims.chain_hash = *delegation_chain_hash(chain);
        claims.chain = std::move(chain);
        return claims;
    }
    static std::string sign(const SigningKey& key, const DelegationClaims& claims) {
        return *sign_delegation_token(key, claims);
    }

    // The tokens of a chain of `length` hops from B, outer token last, each a jti of its own.
    std::vector<std::string> chain_tokens(std::size_t length) const {
        const SigningKey* parties[] = {b.get(), c.get(), d.get(), e.get()};
        const Uuid* jtis[] = {&kJti1, &kJti2, &kJti3};
        std::vector<std::string> tokens;
        for (std::size_t i = 0; i < length; ++i) {
            DelegationClaims claims = hop(*parties[i], *parties[i + 1], {"read"},
                                          kNow + 300 - static_cast<std::int64_t>(i));
            claims.jti = *jtis[i];
            if (i == 0) claims.voucher = voucher();
            if (i > 0) claims = chained(std::move(claims), tokens);
            tokens.push_back(sign(*parties[i], claims));
        }
        return tokens;
    }

    std::string outcome(std::string_view token, std::uint64_t max_hops = 0,
                        std::optional<std::set<std::string>> revoked = std::nullopt) const {
        std::optional<RevokedJtiSet> root;
        std::optional<RevokedHopSet> hops;
        if (revoked) {
            root.emplace(*revoked);
            hops.emplace(*revoked);
        }
        const DelegationVerifyOptions options{
            .verifier = a->aid(),
            .now = kNow,
            .max_delegation_hops = max_hops,
            .root_revocation_check = root ? &*root : nullptr,
            .hop_revocation_check = hops && max_hops > 0 ? &*hops : nullptr,
        };
        auto verified = verify_delegation_core(token, options);
        return verified ? "ok" : verified.error().text();
    }
};

TEST(DelegationChainHash, DigestsEachTokenThenTheCanonicalArray) {
    const std::vector<std::string> abc = {"abc"};
    EXPECT_EQ(*delegation_chain_hash(abc), "hllYEeaCeSRbT3qohkkrRK4jTt36Zo7KGVnXnej1ArI");
    EXPECT_EQ(*delegation_chain_hash({}), "T1PNoYwrqgwDVLtfmj7L5e0Sq02OEbqHPC8RFhICuUU");
    const std::vector<std::string> ab = {"a", "b"}, ba = {"b", "a"};
    EXPECT_NE(*delegation_chain_hash(ab), *delegation_chain_hash(ba));
}

TEST(DelegationErrorText, EveryVariantHasItsText) {
    using K = DelegationError::Kind;
    EXPECT_EQ(DelegationError::of(K::PopFailed).text(), "delegation PoP verification failed");
    EXPECT_EQ(DelegationError::of(K::MissingField, "delegatee").text(),
              "missing required field: delegatee");
    EXPECT_EQ(DelegationError::of(K::Canonicalization, "x").text(), "canonicalization failed: x");
    EXPECT_EQ(DelegationError::claims_malformed("x").text(), "delegation claims malformed: x");
    EXPECT_EQ(DelegationError::from(CryptoError::verification_failed()).text(),
              "signature verification failed");
    EXPECT_EQ(static_cast<int>(K::UnknownField), 18);
}

TEST_F(Delegation, ClaimsAreWrittenCanonicallyAndSignedDeterministically) {
    DelegationClaims claims = hop(*b, *c, {"write", "read", "read"}, 9007199254740993);
    claims.voucher = "v";
    const std::string text = *canonical_delegation_claims(claims);
    EXPECT_EQ(text, R"({"aud":")" + a->aid().as_str() + R"(","cnf":{"jkt":")" + claims.cnf.jkt +
                        R"("},"exp":9007199254740992,"iss":")" + b->aid().as_str() +
                        R"(","scope":["write","read","read"],"sub":")" + c->aid().as_str() +
                        R"(","ver":"vesk/0.2","voucher":"v"})");
    claims.jti = *Uuid::parse("AAAAAAAA-1111-4111-8111-111111111111");
    EXPECT_NE(canonical_delegation_claims(claims)->find("aaaaaaaa-1111"), std::string::npos);
    EXPECT_EQ(sign(*b, claims), sign(*b, claims));
    EXPECT_EQ(*JwsHeader::parse(sign(*d, claims)), "vesk-delegation+jwt");
}

TEST_F(Delegation, ClaimsAreReadStrictly) {
    const std::string good = R"({"ver":"vesk/0.2","iss":")" + b->aid().as_str() + R"(","sub":")" +
                             c->aid().as_str() + R"(","aud":")" + a->aid().as_str() +
                             R"(","scope":["read"],"exp":5,"cnf":{"jkt":"k"})";
    const struct {
        std::string payload;
        std::string expected;
    } cases[] = {
        {good + "}", "ok"},
        {good + R"(,"chain":null,"voucher":null,"jti":null,"chain_hash":null,"ext":null})", "ok"},
        {good + R"(,"ext":[]})", "invalid type: sequence, expected a map at line 1 column"},
        {good + R"(,"iat":1})",
         "unknown field `iat`, expected one of `ver`, `iss`, `sub`, `aud`, "
         "`scope`, `exp`, `cnf`, `voucher`, `jti`, `chain`, `chain_hash`, "
         "`ext` at line 1 column"},
        {good + R"(,"jti":"nope"})", "UUID parsing failed: "},
        {R"({"iss":"x"})", "AID does not start with 'aid:' at line 1 column"},
        {R"({"exp":1})", "missing field `ver` at line 1 column"},
        {R"(["vesk/0.2"])", "invalid length 1, expected struct DelegationClaims with 12 elements"},
        {"3", "invalid type: integer `3`, expected struct DelegationClaims at line 1 column"},
    };
    for (const auto& [payload, expected] : cases) {
        auto read = json::from_json<DelegationClaims>(payload);
        const std::string got = read ? "ok" : read.error().text();
        EXPECT_EQ(got.substr(0, expected.size()), expected) << payload;
    }
    std::string no_cnf = good;
    no_cnf.erase(no_cnf.find(R"(,"cnf")"));
    EXPECT_EQ(json::from_json<DelegationClaims>(no_cnf + "}").error().message,
              "missing field `cnf`");
}

TEST_F(Delegation, BuildsASingleHopTokenFromTheVoucher) {
    DelegationBuildRequest request(*b, voucher(), kNow);
    request.delegatee = c->aid();
    request.scope = {"read", "read"};
    auto token = build_delegation(request);
    ASSERT_TRUE(token) << token.error().text();

    auto payload = jws::decode_segment(*token);
    auto value = json::parse(as_text(*payload));
    std::vector<std::string> members;
    for (const auto& member : *value->as_object()) members.push_back(member.first);
    EXPECT_EQ(members, (std::vector<std::string>{"aud", "cnf", "exp", "iss", "scope", "sub", "ver",
                                                 "voucher"}));
    auto claims = verify_delegation_token(*token);
    ASSERT_TRUE(claims);
    EXPECT_EQ(claims->aud, a->aid());
    EXPECT_EQ(claims->exp, kNow + 600);  // the voucher ends before now + 3600
    EXPECT_EQ(*claims->voucher, voucher());
    EXPECT_EQ(outcome(*token), "ok");
    EXPECT_EQ(outcome(*token, 3), "ok");

    request.ttl_secs = 60;
    EXPECT_EQ(verify_delegation_token(*build_delegation(request))->exp, kNow + 60);
    request.ttl_secs = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(verify_delegation_token(*build_delegation(request))->exp, kNow + 600);
    request.now = std::numeric_limits<std::int64_t>::min() + 5;
    request.ttl_secs = std::numeric_limits<std::int64_t>::min();
    const auto low_payload = jws::decode_segment(*build_delegation(request));
    const std::string low(as_text(*low_payload));
    EXPECT_NE(low.find(R"("exp":-9223372036854776000,)"), std::string::npos) << low;
}

TEST_F(Delegation, BuilderChecksInOrder) {
    auto voucher_with = [&](const RawClaims& claims) {
        return sign_token(*a, jws::kTypGrant, claims.text());
    };
    RawClaims raw;
    raw.set("ver", json_str("vesk/0.2"))
        .set("iss", json_str(a->aid().as_str()))
        .set("sub", json_str(b->aid().as_str()))
        .set("grants", R"(["read"])")
        .set("iat", "1")
        .set("exp", std::to_string(kNow + 100))
        .set("src_jti", json_str(kJti));
    RawClaims no_iat = raw;
    std::erase_if(no_iat.members, [](const auto& member) { return member.first == "iat"; });
    const Aid b_long_form = *Aid::parse("aid:pubkey:ed25519:" + b->aid().as_str().substr(11));
    const struct {
        const char* name;
        std::string voucher;
        std::optional<Aid> delegatee;
        std::vector<std::string> scope;
        std::string expected;
    } cases[] = {
        {"two segments",
         "a.b",
         c->aid(),
         {"read"},
         "compact JWS malformed: expected exactly three non-empty segments"},
        {"payload not JSON",
         sign_token(*a, jws::kTypGrant, "nope"),
         c->aid(),
         {"read"},
         "delegation claims malformed: expected ident at line 1 column 2"},
        {"unknown member",
         voucher_with(RawClaims(raw).add("aud", "1")),
         c->aid(),
         {"read"},
         "unknown field: aud"},
        {"missing iat",
         voucher_with(no_iat),
         c->aid(),
         {"read"},
         "delegation claims malformed: voucher: missing field `iat` at line 1 column"},
        {"issued to another",
         voucher_with(RawClaims(raw).set("sub", json_str(c->aid().as_str()))),
         std::nullopt,
         {},
         "delegation voucher is invalid"},
        {"no delegatee", voucher_with(raw), std::nullopt, {}, "missing required field: delegatee"},
        {"empty scope", voucher_with(raw), b->aid(), {}, "delegation scope must be non-empty"},
        {"self", voucher_with(raw), b->aid(), {"admin"}, "self-delegation is forbidden"},
        {"ungranted",
         voucher_with(raw),
         c->aid(),
         {"read", "admin"},
         "delegation scope exceeds grant proof capabilities"},
        {"no grants",
         voucher_with(RawClaims(raw).set("grants", "[]")),
         c->aid(),
         {"read"},
         "delegation scope exceeds grant proof capabilities"},
        {"self in the other AID form", voucher_with(raw), b_long_form, {"read"}, "ok"},
        {"forged voucher", sign_token(*e, jws::kTypTct, raw.text()), c->aid(), {"read"}, "ok"},
    };
    for (const auto& test : cases) {
        DelegationBuildRequest request(*b, test.voucher, kNow);
        request.delegatee = test.delegatee;
        request.scope = test.scope;
        auto token = build_delegation(request);
        const std::string got = token ? "ok" : token.error().text();
        EXPECT_EQ(got.substr(0, test.expected.size()), test.expected) << test.name;
    }
}

TEST_F(Delegation, SingleHopChecksInOrder) {
    const MintedTct other_issuer = mint(*e, *b, kNow + 600);
    const MintedTct to_c = mint(*a, *c, kNow + 600);
    const MintedTct expired_grant = mint(*a, *b, kNow - 1);
    const MintedTct grant_ending_now = mint(*a, *b, kNow);
    using Edit = std::function<void(DelegationClaims&)>;
    const struct {
        const char* name;
        Edit edit;
        std::string expected;
    } cases[] = {
        {"valid", [](DelegationClaims&) {}, "ok"},
        {"expires now", [](DelegationClaims& t) { t.exp = kNow; }, "ok"},
        {"repeated granted scope",
         [](DelegationClaims& t) {
             t.scope = {"admin", "admin"};
         },
         "ok"},
        {"same expiry as the voucher", [](DelegationClaims& t) { t.exp = kNow + 600; }, "ok"},
        {"other audience, also expired",
         [&](DelegationClaims& t) {
             t.aud = c->aid();
             t.exp = kNow - 1;
         },
         "delegation audience mismatch"},
        {"expired, no voucher",
         [](DelegationClaims& t) {
             t.exp = kNow - 1;
             t.voucher.reset();
         },
         "delegation token or grant proof has expired"},
        {"no voucher", [](DelegationClaims& t) { t.voucher.reset(); },
         "delegation voucher is invalid"},
        {"voucher of another issuer",
         [&](DelegationClaims& t) { t.voucher = *other_issuer.grant_voucher; },
         "signature verification failed"},
        {"voucher issued to another", [&](DelegationClaims& t) { t.voucher = *to_c.grant_voucher; },
         "delegation voucher is invalid"},
        {"TCT as voucher", [&](DelegationClaims& t) { t.voucher = grant.token; },
         "JWS typ header mismatch: expected vesk-grant+jwt, got vesk-tct+jwt"},
        {"voucher expired",
         [&](DelegationClaims& t) {
             t.voucher = *expired_grant.grant_voucher;
             t.exp = kNow;
         },
         "delegation token or grant proof has expired"},
        {"voucher expires now",
         [&](DelegationClaims& t) {
             t.voucher = *grant_ending_now.grant_voucher;
             t.exp = kNow;
         },
         "ok"},
        {"outlives the voucher", [](DelegationClaims& t) { t.exp = kNow + 601; },
         "delegation token or grant proof has expired"},
        {"ungranted scope",
         [](DelegationClaims& t) {
             t.scope = {"read", "delete"};
         },
         "delegation scope exceeds grant proof capabilities"},
        {"empty scope", [](DelegationClaims& t) { t.scope.clear(); },
         "delegation scope must be non-empty"},
        {"self-issued with empty scope",
         [&](DelegationClaims& t) {
             t.sub = b->aid();
             t.cnf.jkt = *jwk_thumbprint(b->verifying_key());
             t.scope.clear();
         },
         "self-delegation is forbidden"},
        {"cnf of another key",
         [&](DelegationClaims& t) { t.cnf.jkt = *jwk_thumbprint(d->verifying_key()); },
         "delegation cnf is malformed"},
        {"old version", [](DelegationClaims& t) { t.ver = "vesk/0.1"; },
         "delegation token version is not supported"},
        {"chain with single-hop verification", [](DelegationClaims& t) { t.chain.emplace(); },
         "multi-hop delegation is not supported"},
        {"jti with single-hop verification", [](DelegationClaims& t) { t.jti = kJti1; },
         "delegation claims malformed: jti claim requires multi-hop opt-in"},
    };
    for (const auto& test : cases) {
        DelegationClaims claims = hop(*b, *c, {"read", "write"}, kNow + 300);
        claims.voucher = voucher();
        test.edit(claims);
        EXPECT_EQ(outcome(sign(*b, claims)), test.expected) << test.name;
    }
}

TEST_F(Delegation, TokenFormIsCheckedBeforeAndAtTheSignature) {
    DelegationClaims claims = hop(*b, *c, {"read"}, kNow + 300);
    claims.voucher = voucher();
    const std::string payload = *canonical_delegation_claims(claims);
    std::string with_iat = payload;
    with_iat.insert(1, R"("iat":1,)");
    const struct {
        const char* name;
        std::string token;
        std::string expected;
    } cases[] = {
        {"tampered signature", tampered(sign(*b, claims)), "delegation signature is invalid"},
        {"signed by the delegatee", sign_token(*c, jws::kTypDelegation, payload),
         "delegation signature is invalid"},
        {"TCT type", sign_token(*b, jws::kTypTct, payload),
         "JWS typ header mismatch: expected vesk-delegation+jwt, got vesk-tct+jwt"},
        {"extra member, bad signature", tampered(sign_token(*b, jws::kTypDelegation, with_iat)),
         "unknown field: iat"},
        {"two segments", "abc.def", "compact JWS malformed: "},
    };
    for (const auto& test : cases) {
        const std::string got = outcome(test.token);
        EXPECT_EQ(got.substr(0, test.expected.size()), test.expected) << test.name;
    }
}

TEST_F(Delegation, RootRevocationMatchesTheLowercaseSourceJti) {
    DelegationClaims claims = hop(*b, *c, {"read"}, kNow + 300);
    claims.voucher = voucher();
    const std::string token = sign(*b, claims);
    std::string upper = grant.claims.jti.to_string();
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));

    EXPECT_EQ(outcome(token, 0, std::set<std::string>{grant.claims.jti.to_string()}),
              "source TCT has been revoked");
    EXPECT_EQ(outcome(token, 3, std::set<std::string>{grant.claims.jti.to_string()}),
              "source TCT has been revoked");
    EXPECT_EQ(outcome(token, 0, std::set<std::string>{upper}), "ok");
    EXPECT_EQ(outcome(token, 0, std::set<std::string>{}), "ok");
    // Revocation is asked last: an expired delegation of a revoked grant reports the expiry.
    claims.exp = kNow - 1;
    EXPECT_EQ(outcome(sign(*b, claims), 0, std::set<std::string>{grant.claims.jti.to_string()}),
              "delegation token or grant proof has expired");
}

TEST_F(Delegation, MultiHopRoutesChainlessAndEmptyChainTokensAsSingleHops) {
    DelegationClaims claims = hop(*b, *c, {"read"}, kNow + 300);
    claims.voucher = voucher();
    claims.chain.emplace();
    const std::string empty_chain = sign(*b, claims);
    claims.chain.reset();
    claims.jti = kJti1;
    const std::string with_jti = sign(*b, claims);
    for (std::uint64_t hops : {1u, 2u, 3u}) {
        EXPECT_EQ(outcome(empty_chain, hops), "ok") << hops;
        EXPECT_EQ(outcome(with_jti, hops), "ok") << hops;
    }
}

TEST_F(Delegation, SingleHopTokenIsRevokedByItsOwnJtiInMultiHopVerification) {
    DelegationClaims claims = hop(*b, *c, {"read"}, kNow + 300);
    claims.voucher = voucher();
    claims.jti = kJti1;
    const std::string token = sign(*b, claims);
    const std::set<std::string> revoked = {kJti1.to_string()};
    EXPECT_EQ(outcome(token, 3, revoked), "source TCT has been revoked");
    EXPECT_EQ(outcome(token, 1, revoked), "source TCT has been revoked");
    EXPECT_EQ(outcome(token, 3, std::set<std::string>{kJti2.to_string()}), "ok");
    EXPECT_EQ(outcome(token, 3), "ok");
    claims.chain.emplace();
    EXPECT_EQ(outcome(sign(*b, claims), 3, revoked), "source TCT has been revoked");
}

TEST_F(Delegation, ChainsAreVerifiedUpToTheHopLimit) {
    const auto one = chain_tokens(2);  // B->C, then C->D
    const auto two = chain_tokens(3);  // B->C, C->D, D->E
    EXPECT_EQ(outcome(one.back(), 3), "ok");
    EXPECT_EQ(outcome(one.back(), 2), "delegation hop limit exceeded");
    EXPECT_EQ(outcome(one.back(), 1), "delegation hop limit exceeded");
    EXPECT_EQ(outcome(one.back(), 0), "multi-hop delegation is not supported");
    EXPECT_EQ(outcome(two.back(), 3), "delegation hop limit exceeded");
    EXPECT_EQ(outcome(two.back(), 4), "ok");
    EXPECT_EQ(outcome(two.back(), std::numeric_limits<std::uint64_t>::max()), "ok");

    const DelegationVerifyOptions options{
        .verifier = a->aid(), .now = kNow, .max_delegation_hops = 4};
    auto verified = verify_delegation_core(two.back(), options);
    ASSERT_TRUE(verified);
    const DelegationVerified result = DelegationVerified::from_verified(*verified);
    EXPECT_EQ(result.delegator, a->aid().as_str());
    EXPECT_EQ(result.issued_by, d->aid().as_str());
    EXPECT_EQ(result.delegatee, e->aid().as_str());
    EXPECT_EQ(result.grants, std::vector<std::string>{"read"});
    EXPECT_EQ(result.cnf, *jwk_thumbprint(e->verifying_key()));
    EXPECT_EQ(result.expires_at, kNow + 298);
    EXPECT_EQ(verified->voucher.src_jti, grant.claims.jti);
}

TEST_F(Delegation, ChainHashAndHopLimitComeBeforeAnySignature) {
    auto first = chain_tokens(1);
    DelegationClaims outer = hop(*c, *d, {"read"}, kNow + 100);
    outer.jti = kJti2;
    outer.chain = {first[0]};
    EXPECT_EQ(outcome(sign(*c, outer), 3), "delegation chain_hash mismatch");
    outer.chain_hash = *delegation_chain_hash(std::vector<std::string>{"other"});
    EXPECT_EQ(outcome(sign(*c, outer), 3), "delegation chain_hash mismatch");
    outer = chained(outer, {tampered(first[0])});
    EXPECT_EQ(outcome(tampered(sign(*c, outer)), 2), "delegation hop limit exceeded");
    EXPECT_EQ(outcome(sign(*c, outer), 3), "delegation signature is invalid");
}

TEST_F(Delegation, EveryHopIsCheckedAgainstTheOneBeforeIt) {
    const auto first = chain_tokens(1)[0];  // B->C, scope read, exp now+300, jti 1
    DelegationClaims unlinked_first = hop(*b, *c, {"read"}, kNow + 300);
    unlinked_first.voucher = voucher();
    unlinked_first.jti = kJti1;
    unlinked_first.chain = {"someone else"};
    unlinked_first.chain_hash = *delegation_chain_hash(*unlinked_first.chain);
    using Edit = std::function<void(DelegationClaims&)>;
    const struct {
        const char* name;
        const SigningKey* signer;
        Edit edit;
        std::string expected;
    } cases[] = {
        {"valid", c.get(), [](DelegationClaims&) {}, "ok"},
        {"not from the previous subject", e.get(), [&](DelegationClaims& t) { t.iss = e->aid(); },
         "delegation voucher is invalid"},
        {"own voucher", c.get(), [&](DelegationClaims& t) { t.voucher = voucher(); },
         "delegation voucher is invalid"},
        {"reused jti", c.get(), [](DelegationClaims& t) { t.jti = kJti1; },
         "delegation voucher is invalid"},
        {"no jti", c.get(), [](DelegationClaims& t) { t.jti.reset(); },
         "delegation voucher is invalid"},
        {"outlives the previous hop", c.get(), [](DelegationClaims& t) { t.exp = kNow + 301; },
         "delegation token or grant proof has expired"},
        {"expired", c.get(), [](DelegationClaims& t) { t.exp = kNow - 1; },
         "delegation token or grant proof has expired"},
        {"wider scope", c.get(),
         [](DelegationClaims& t) {
             t.scope = {"read", "write"};
         },
         "delegation scope exceeds grant proof capabilities"},
        {"addressed elsewhere", c.get(), [&](DelegationClaims& t) { t.aud = b->aid(); },
         "delegation audience mismatch"},
        {"back to the delegator itself", c.get(),
         [&](DelegationClaims& t) {
             t.sub = c->aid();
             t.cnf.jkt = *jwk_thumbprint(c->verifying_key());
         },
         "self-delegation is forbidden"},
    };
    for (const auto& test : cases) {
        DelegationClaims outer = hop(*c, *d, {"read"}, kNow + 300);
        outer.jti = kJti2;
        test.edit(outer);
        outer = chained(std::move(outer), {first});
        EXPECT_EQ(outcome(sign(*test.signer, outer), 3), test.expected) << test.name;
    }
    DelegationClaims outer = chained(hop(*c, *d, {"read"}, kNow + 300), {sign(*b, unlinked_first)});
    outer.jti = kJti2;
    EXPECT_EQ(outcome(sign(*c, outer), 3), "delegation voucher is invalid");
}

TEST_F(Delegation, ChainTokensMustRecordTheChainBeforeThem) {
    const auto first = chain_tokens(1)[0];
    auto outer_over = [&](const DelegationClaims& second) {
        const std::vector<std::string> earlier = {first, sign(*c, second)};
        DelegationClaims outer = chained(hop(*d, *e, {"read"}, kNow + 100), earlier);
        outer.jti = kJti3;
        return outcome(sign(*d, outer), 4);
    };
    DelegationClaims second = hop(*c, *d, {"read"}, kNow + 200);
    second.jti = kJti2;
    EXPECT_EQ(outer_over(second), "ok");  // no record of its own
    EXPECT_EQ(outer_over(chained(second, {first})), "ok");
    EXPECT_EQ(outer_over(chained(second, {chain_tokens(2)[0] + "x"})),
              "delegation voucher is invalid");
    DelegationClaims wrong_hash = chained(second, {first});
    wrong_hash.chain_hash = *delegation_chain_hash({});
    EXPECT_EQ(outer_over(wrong_hash), "delegation voucher is invalid");
    wrong_hash.chain_hash.reset();
    EXPECT_EQ(outer_over(wrong_hash), "delegation voucher is invalid");
}

TEST_F(Delegation, FirstHopCarriesAValidVoucher) {
    const MintedTct to_c = mint(*a, *c, kNow + 600);
    using Edit = std::function<void(DelegationClaims&)>;
    const struct {
        const char* name;
        Edit edit;
        std::string expected;
    } cases[] = {
        {"no voucher", [](DelegationClaims& t) { t.voucher.reset(); },
         "delegation voucher is invalid"},
        {"voucher issued to another", [&](DelegationClaims& t) { t.voucher = *to_c.grant_voucher; },
         "delegation voucher is invalid"},
        {"outlives the voucher", [](DelegationClaims& t) { t.exp = kNow + 601; },
         "delegation token or grant proof has expired"},
        {"ungranted scope",
         [](DelegationClaims& t) {
             t.scope = {"read", "delete"};
         },
         "delegation scope exceeds grant proof capabilities"},
        {"consistent empty chain of its own",
         [](DelegationClaims& t) { t = chained(std::move(t), {}); }, "ok"},
        {"empty chain without its hash", [](DelegationClaims& t) { t.chain.emplace(); },
         "delegation voucher is invalid"},
    };
    for (const auto& test : cases) {
        DelegationClaims first = hop(*b, *c, {"read"}, kNow + 300);
        first.voucher = voucher();
        first.jti = kJti1;
        test.edit(first);
        DelegationClaims outer = chained(hop(*c, *d, {"read"}, kNow + 200), {sign(*b, first)});
        outer.jti = kJti2;
        EXPECT_EQ(outcome(sign(*c, outer), 3), test.expected) << test.name;
    }
}

TEST_F(Delegation, EveryHopOfAChainCanBeRevoked) {
    const auto tokens = chain_tokens(3);
    const std::string& outer = tokens.back();
    for (const Uuid jti : {kJti1, kJti2, kJti3, grant.claims.jti}) {
        EXPECT_EQ(outcome(outer, 4, std::set<std::string>{jti.to_string()}),
                  "source TCT has been revoked")
            << jti.to_string();
    }
    EXPECT_EQ(outcome(outer, 4, std::set<std::string>{}), "ok");
    EXPECT_EQ(outcome(outer, 4, std::set<std::string>{"33333333333343338333333333333333"}), "ok");
}

}  // namespace
}  // namespace vesk
