#include "vesk/handshake/oidc.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <functional>
#include <memory>
#include <string>

#include "fixtures.h"
#include "vesk/crypto/openssl_ptr.h"

namespace vesk::handshake {
namespace {

using testing::forge_with;

constexpr std::int64_t kNow = 1700000000;
constexpr std::string_view kIssuer = "https://issuer.example/";
constexpr std::string_view kNonce = "AAECAwQFBgcICQoLDA0ODw";
const std::string kFailed = "identity verification failed: ";

using Signer = std::function<Bytes(std::string_view input)>;

// An issuer key: its JWK and a signer of token inputs.
struct IssuerKey {
    Jwk jwk;
    Signer sign;
};

IssuerKey issuer_key(SharedSigningKey key, std::optional<std::string> kid = {}) {
    Signer sign = [key](std::string_view input) {
        auto signature = key->sign(test::as_bytes(input));
        return Bytes(signature.begin(), signature.end());
    };
    if (auto okp = key->ed25519_public_key())
        return {Jwk{std::move(kid), {JwkKeyMaterial::Okp{*okp}}}, sign};
    auto point = *key->verifying_key().p256_uncompressed();
    JwkKeyMaterial::Ec ec;
    std::copy(point.begin() + 1, point.begin() + 33, ec.x.begin());
    std::copy(point.begin() + 33, point.end(), ec.y.begin());
    return {Jwk{std::move(kid), {ec}}, sign};
}

Bytes bn_param(const EVP_PKEY* key, const char* name) {
    BIGNUM* raw = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, name, &raw), 1);
    OpensslPtr<BIGNUM, BN_free> bn(raw);
    Bytes out(static_cast<std::size_t>(BN_num_bytes(bn.get())));
    BN_bn2bin(bn.get(), out.data());
    return out;
}

IssuerKey rsa_issuer(unsigned bits) {
    std::shared_ptr<EVP_PKEY> key(EVP_RSA_gen(bits), EVP_PKEY_free);
    Jwk jwk{{},
            {JwkKeyMaterial::Rsa{bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N),
                                 bn_param(key.get(), OSSL_PKEY_PARAM_RSA_E)}}};
    return {std::move(jwk), [key](std::string_view input) {
                OpensslPtr<EVP_MD_CTX, EVP_MD_CTX_free> ctx(EVP_MD_CTX_new());
                EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get());
                std::size_t length = 0;
                auto data = reinterpret_cast<const unsigned char*>(input.data());
                EVP_DigestSign(ctx.get(), nullptr, &length, data, input.size());
                Bytes signature(length);
                EVP_DigestSign(ctx.get(), signature.data(), &length, data, input.size());
                return signature;
            }};
}

// The peer (token subject) and this agent (audience), with one issuer key registered.
class OidcVerify : public ::testing::Test {
  protected:
    SharedSigningKey peer = testing::ed25519_key(7);
    SharedSigningKey own = testing::ed25519_key(8);
    std::string jkt = jwk_thumbprint(peer->verifying_key());
    std::vector<std::string> anchors{std::string(kIssuer)};
    JwksStore store;
    IssuerKey issuer = issuer_key(testing::ed25519_key(9));
    const std::string header = R"({"alg":"EdDSA","typ":"JWT"})";

    void SetUp() override { ASSERT_TRUE(store.upsert(*parse_url(kIssuer), {issuer.jwk})); }

    std::string claims(std::string_view overrides = "") const {
        return std::string(R"({"iss":")") + std::string(kIssuer) +
               R"(","sub":"agent-subject","aud":")" + own->aid().as_str() +
               R"(","iat":1700000000,"exp":1700000600,"nonce":")" + std::string(kNonce) +
               R"(","cnf":{"jkt":")" + jkt + R"("})" + std::string(overrides) + "}";
    }
    // An identity block carrying a token over these claims, signed by the registered key.
    IdentityDescriptor block_of(std::string_view claims_text) const {
        return block(forge_with(issuer.sign, header, claims_text));
    }
    IdentityDescriptor block(std::string proof) const {
        return {
            IdentityType::Oidc, std::string(kIssuer), "agent-subject", std::move(proof), {}, {}};
    }

    std::string failure(const IdentityDescriptor& identity) {
        OidcVerifyOptions options{own->aid(), kNonce, anchors, store, peer->aid(), 300, kNow};
        return testing::outcome(verify_oidc_identity(identity, options));
    }
};

TEST_F(OidcVerify, AcceptsTokensOfEachKeyType) {
    struct Case {
        IssuerKey key;
        std::string alg;
    };
    for (const Case& c :
         {Case{issuer_key(testing::ed25519_key(3)), "EdDSA"},
          Case{issuer_key(testing::p256_key(4)), "ES256"}, Case{rsa_issuer(2048), "RS256"}}) {
        ASSERT_TRUE(store.upsert(*parse_url(kIssuer), {c.key.jwk}));
        const std::string good = forge_with(c.key.sign, R"({"alg":")" + c.alg + "\"}", claims());
        EXPECT_EQ(failure(block(good)), "ok") << c.alg;
        // Any other algorithm name fails against the key.
        EXPECT_EQ(failure(block(forge_with(c.key.sign, R"({"alg":"HS256"})", claims()))),
                  kFailed + "jwt signature invalid: JWS header alg HS256 does not match key alg " +
                      c.alg);
    }
}

TEST_F(OidcVerify, ChecksInOrderWithTheirTexts) {
    IdentityDescriptor with_key = block_of(claims()), no_issuer = with_key, untrusted = with_key;
    with_key.public_key = "key";
    no_issuer.issuer.reset();
    untrusted.issuer = "https://issuer.example";  // the anchor carries the trailing "/"
    const std::string good = forge_with(issuer.sign, header, claims());
    const std::string signature = good.substr(good.rfind('.') + 1);
    const auto header_only = [](std::string_view text) { return b64u_encode(text) + ".."; };

    const std::pair<IdentityDescriptor, std::string> cases[] = {
        {with_key, kFailed + "oidc descriptor must not carry public_key"},
        {no_issuer, kFailed + "oidc descriptor missing issuer"},
        {untrusted, "incompatible trust anchors"},
        {block("a.b.c.d"), kFailed + "malformed JWT: expected 3 dot-separated segments, got 4"},
        {block("=.."),
         kFailed + "malformed JWT header b64: base64url padding is forbidden in VESK"},
        {block(header_only("{}")),
         kFailed + "malformed JWT header json: missing field `alg` at line 1 column 2"},
        // Members it does not know are skipped, but the positional form needs them all.
        {block(header_only(R"(["EdDSA"])")),
         kFailed + "malformed JWT header json: invalid length 1, expected struct JwtHeader with 2 "
                   "elements at line 1 column 9"},
        {block(header_only(R"({"alg":"EdDSA","kid":"other"})")), kFailed + "no matching JWK"},
        {block(good.substr(0, good.find('.')) + ".." + signature + "="),
         kFailed + "malformed JWT signature b64: base64url padding is forbidden in VESK"},
        // Claims that do not read, under a valid signature.
        {block_of("not json"), kFailed + "malformed JWT claims: expected ident at line 1 column 2"},
        // Placed where the enclosing object ends, past the whitespace and brace that follow.
        {block_of(R"({"iss":"x","sub":"s","iat":1,"exp":2,"aud":5 })"),
         kFailed +
             "malformed JWT claims: data did not match any variant of untagged enum Aud at line 1 "
             "column 46"},
        {block_of(R"({"iss":"https://other.example/","sub":"s","aud":"a","iat":1,"exp":2})"),
         kFailed + "iss mismatch"},
    };
    for (const auto& [identity, text] : cases) EXPECT_EQ(failure(identity), text) << identity.proof;
}

TEST_F(OidcVerify, ClaimRules) {
    const std::string own_aid = own->aid().as_str();
    auto replaced = [&](std::string_view from, std::string_view to) {
        std::string text = claims();
        text.replace(text.find(from), from.size(), to);
        return block_of(text);
    };
    const std::string exp = R"("exp":1700000600)", iat = R"("iat":1700000000)";
    // Each case rewrites one claim in place.
    const std::pair<IdentityDescriptor, std::string> cases[] = {
        {block_of(claims(R"(,"extra":{"deep":[1,2]})")), "ok"},
        {replaced(R"("aud":")" + own_aid + R"(")", R"("aud":[")" + own_aid + R"("])"), "ok"},
        {replaced(R"("aud":")" + own_aid + R"(")", R"("aud":[])"), kFailed + "aud mismatch"},
        {replaced(R"("sub":"agent-subject")", R"("sub":"someone")"), kFailed + "sub mismatch"},
        {replaced(exp, R"("exp":1700000000)"), kFailed + "jwt exp in the past"},
        {replaced(exp, R"("exp":1700000001)"), "ok"},
        {replaced(iat, R"("iat":1699999700)"), "ok"},
        {replaced(iat, R"("iat":1700000300)"), "ok"},
        {replaced(iat, R"("iat":1699999699)"), kFailed + "iat outside tolerance"},
        {replaced(iat, R"("iat":1700000301)"), kFailed + "iat outside tolerance"},
        // Far-off times are refused without overflowing the difference.
        {replaced(iat, R"("iat":-9223372036854775808)"), kFailed + "iat outside tolerance"},
        {replaced(iat, R"("iat":9223372036854775807)"), kFailed + "iat outside tolerance"},
        {replaced(exp, R"("exp":-9223372036854775808)"), kFailed + "jwt exp in the past"},
        {replaced(R"("nonce":"AAECAwQFBgcICQoLDA0ODw")", R"("nonce":null)"),
         kFailed + "missing nonce claim"},
        {replaced(R"("nonce":"AAECAwQFBgcICQoLDA0ODw")", R"("nonce":"aaecawqfbgcicqolda0odw")"),
         kFailed + "nonce mismatch"},
        {replaced(R"("cnf":{"jkt":")" + jkt + R"("})", R"("cnf":null)"),
         kFailed + "missing cnf claim"},
        {replaced(jkt, std::string(43, 'A')), kFailed + "cnf.jkt mismatch"},
    };
    for (const auto& [identity, text] : cases) EXPECT_EQ(failure(identity), text) << identity.proof;
}

TEST_F(OidcVerify, KeyChoiceAndResolution) {
    IssuerKey a = issuer_key(testing::ed25519_key(20), "a"),
              b = issuer_key(testing::ed25519_key(21), "b");
    IssuerKey a_again = issuer_key(testing::ed25519_key(22), "a"),
              plain = issuer_key(testing::ed25519_key(23));
    auto signed_by = [&](const IssuerKey& key, std::string_view kid) {
        std::string h = kid.empty() ? R"({"alg":"EdDSA"})"
                                    : R"({"alg":"EdDSA","kid":")" + std::string(kid) + R"("})";
        return block(forge_with(key.sign, h, claims()));
    };
    struct Case {
        std::vector<Jwk> keys;
        IdentityDescriptor identity;
        std::string result;
    };
    const Case cases[] = {
        // A header without kid and a single key that has one: that key.
        {{a.jwk}, signed_by(a, ""), "ok"},
        {{a.jwk, b.jwk}, signed_by(a, ""), kFailed + "no matching JWK"},
        {{a.jwk}, signed_by(a, "zzz"), kFailed + "no matching JWK"},
        {{a.jwk, b.jwk}, signed_by(b, "b"), "ok"},
        // The first key with the kid is used.
        {{a.jwk, a_again.jwk}, signed_by(a, "a"), "ok"},
        {{a_again.jwk, a.jwk},
         signed_by(a, "a"),
         kFailed + "jwt signature invalid: signature verification failed"},
        // Without a header kid: the first key without one.
        {{a.jwk, plain.jwk, b.jwk}, signed_by(plain, ""), "ok"},
        {{},
         signed_by(a, "a"),
         "issuer key resolution failed for https://issuer.example/: issuer not trusted: "
         "https://issuer.example/"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(store.upsert(*parse_url(kIssuer), c.keys));
        EXPECT_EQ(failure(c.identity), c.result) << c.identity.proof;
    }
}

TEST(OidcKeys, CurveKeyMaterialAndRsaRefusals) {
    JwkKeyMaterial::Ec off_curve{};
    off_curve.x[31] = 1;
    off_curve.y[31] = 1;
    EXPECT_EQ(testing::outcome(verify_jwt_signature(Jwk{{}, {off_curve}}, "ES256",
                                                    test::as_bytes("a.b"), Bytes(64, 1))),
              "key material invalid: public key parsing failed: signature error");
    // A short modulus is refused like a bad signature.
    IssuerKey small = rsa_issuer(1024);
    EXPECT_EQ(testing::outcome(verify_jwt_signature(small.jwk, "RS256", test::as_bytes("x.y"),
                                                    small.sign("x.y"))),
              "signature verification failed");
}

}  // namespace
}  // namespace vesk::handshake
