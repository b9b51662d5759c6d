#include "vesk/handshake/oidc.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <functional>
#include <memory>
#include <string>

#include "handshake_support.h"
#include "vesk/core/base64url.h"
#include "vesk/crypto/openssl_ptr.h"
#include "vesk/crypto/thumbprint.h"

namespace vesk::handshake {
namespace {

constexpr std::int64_t kNow = 1700000000;
constexpr std::string_view kIssuer = "https://issuer.example/";
constexpr std::string_view kNonce = "AAECAwQFBgcICQoLDA0ODw";

using Signer = std::function<Bytes(std::string_view input)>;
using PKey = OpensslPtr<EVP_PKEY, EVP_PKEY_free>;

Bytes bytes_of(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes bn_param(const EVP_PKEY* key, const char* name) {
    BIGNUM* raw = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, name, &raw), 1);
    OpensslPtr<BIGNUM, BN_free> bn(raw);
    Bytes out(static_cast<std::size_t>(BN_num_bytes(bn.get())));
    BN_bn2bin(bn.get(), out.data());
    return out;
}

// An issuer key: its JWK and a signer of token inputs.
struct IssuerKey {
    Jwk jwk;
    Signer sign;
};

Signer signer_of(SharedSigningKey key) {
    return [key](std::string_view input) {
        auto signature = key->sign(bytes_of(input));
        return Bytes(signature.begin(), signature.end());
    };
}

IssuerKey ed25519_issuer(std::uint8_t fill, std::optional<std::string> kid = {}) {
    SharedSigningKey key = testing::ed25519_key(fill);
    return {Jwk{std::move(kid), {JwkKeyMaterial::Okp{*key->ed25519_public_key()}}}, signer_of(key)};
}

IssuerKey p256_issuer(std::uint8_t fill) {
    SharedSigningKey key = testing::p256_key(fill);
    auto point = *key->verifying_key().p256_uncompressed();
    JwkKeyMaterial::Ec ec;
    std::copy(point.begin() + 1, point.begin() + 33, ec.x.begin());
    std::copy(point.begin() + 33, point.end(), ec.y.begin());
    return {Jwk{{}, {ec}}, signer_of(key)};
}

IssuerKey rsa_issuer(unsigned bits) {
    std::shared_ptr<EVP_PKEY> key(EVP_RSA_gen(bits), EVP_PKEY_free);
    Jwk jwk{{},
            {JwkKeyMaterial::Rsa{bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N),
                                 bn_param(key.get(), OSSL_PKEY_PARAM_RSA_E)}}};
    return {
        std::move(jwk), [key](std::string_view input) {
            OpensslPtr<EVP_MD_CTX, EVP_MD_CTX_free> ctx(EVP_MD_CTX_new());
            EXPECT_EQ(EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()), 1);
            std::size_t length = 0;
            auto data = reinterpret_cast<const unsigned char*>(input.data());
            EXPECT_EQ(EVP_DigestSign(ctx.get(), nullptr, &length, data, input.size()), 1);
            Bytes signature(length);
            EXPECT_EQ(EVP_DigestSign(ctx.get(), signature.data(), &length, data, input.size()), 1);
            return signature;
        }};
}

std::string token(const Signer& sign, std::string_view header, std::string_view claims) {
    std::string input = b64u_encode(bytes_of(header)) + "." + b64u_encode(bytes_of(claims));
    return input + "." + b64u_encode(sign(input));
}

// The peer (token subject) and this agent (audience), with one issuer key registered.
class OidcVerify : public ::testing::Test {
  protected:
    SharedSigningKey peer = testing::ed25519_key(7);
    SharedSigningKey own = testing::ed25519_key(8);
    std::string jkt = jwk_thumbprint(peer->verifying_key());
    std::vector<std::string> anchors{std::string(kIssuer)};
    JwksStore store;
    IssuerKey issuer = ed25519_issuer(9);

    void SetUp() override { ASSERT_TRUE(store.upsert(*parse_url(kIssuer), {issuer.jwk})); }

    std::string claims(std::string_view overrides = "") const {
        return std::string(R"({"iss":")") + std::string(kIssuer) +
               R"(","sub":"agent-subject","aud":")" + own->aid().as_str() +
               R"(","iat":1700000000,"exp":1700000600,"nonce":")" + std::string(kNonce) +
               R"(","cnf":{"jkt":")" + jkt + R"("})" + std::string(overrides) + "}";
    }
    std::string header(std::string_view alg = "EdDSA") const {
        return R"({"alg":")" + std::string(alg) + R"(","typ":"JWT"})";
    }

    IdentityDescriptor block(std::string proof) const {
        return {
            IdentityType::Oidc, std::string(kIssuer), "agent-subject", std::move(proof), {}, {}};
    }

    std::expected<void, HandshakeError> verify(const IdentityDescriptor& identity) {
        OidcVerifyOptions options{own->aid(), kNonce, anchors, store, peer->aid(), 300, kNow};
        return verify_oidc_identity(identity, options);
    }
    std::string failure(const IdentityDescriptor& identity) {
        return testing::outcome(verify(identity));
    }
};

TEST_F(OidcVerify, AcceptsTokensOfEachKeyType) {
    struct Case {
        const char* name;
        IssuerKey key;
        const char* alg;
    };
    for (const Case& c :
         {Case{"EdDSA", ed25519_issuer(3), "EdDSA"}, Case{"ES256", p256_issuer(4), "ES256"},
          Case{"RS256", rsa_issuer(2048), "RS256"}}) {
        ASSERT_TRUE(store.upsert(*parse_url(kIssuer), {c.key.jwk}));
        auto good = verify(block(token(c.key.sign, header(c.alg), claims())));
        EXPECT_TRUE(good) << c.name << ": " << good.error().text();
        // Any other algorithm name fails against the key.
        EXPECT_EQ(failure(block(token(c.key.sign, header("HS256"), claims()))),
                  std::string("identity verification failed: jwt signature invalid: JWS header alg "
                              "HS256 does not match key alg ") +
                      c.alg)
            << c.name;
        // A token signed by another key of the same type fails the signature check.
        std::string forged = token(c.key.sign, header(c.alg), claims());
        std::string other = token(c.key.sign, header(c.alg), claims(R"(,"x":1)"));
        forged = forged.substr(0, forged.rfind('.')) + other.substr(other.rfind('.'));
        EXPECT_EQ(failure(block(forged)),
                  "identity verification failed: jwt signature invalid: signature verification "
                  "failed")
            << c.name;
    }
}

TEST_F(OidcVerify, ChecksInOrderWithTheirTexts) {
    const std::string h = header();
    auto signed_claims = [&](std::string_view overrides) {
        return block(token(issuer.sign, h, claims(overrides)));
    };
    auto raw_claims = [&](std::string_view text) { return block(token(issuer.sign, h, text)); };
    const std::string prefix = "identity verification failed: ";
    IdentityDescriptor with_key = signed_claims("");
    with_key.public_key = "key";
    IdentityDescriptor no_issuer = signed_claims("");
    no_issuer.issuer.reset();
    IdentityDescriptor untrusted = signed_claims("");
    untrusted.issuer = "https://issuer.example";  // the anchor carries the trailing "/"
    std::string good = token(issuer.sign, h, claims());
    std::string sig = good.substr(good.rfind('.') + 1);
    std::string head_b64 = good.substr(0, good.find('.'));

    const std::pair<IdentityDescriptor, std::string> cases[] = {
        {with_key, prefix + "oidc descriptor must not carry public_key"},
        {no_issuer, prefix + "oidc descriptor missing issuer"},
        {untrusted, "incompatible trust anchors"},
        {block("a.b.c.d"), prefix + "malformed JWT: expected 3 dot-separated segments, got 4"},
        {block("=.."), prefix + "malformed JWT header b64: base64url padding is forbidden in VESK"},
        {block(b64u_encode(bytes_of("{}")) + ".."),
         prefix + "malformed JWT header json: missing field `alg` at line 1 column 2"},
        {block(b64u_encode(bytes_of(R"({"alg":"EdDSA","kid":"a","kid":"b"})")) + ".."),
         prefix + "malformed JWT header json: duplicate field `kid` at line 1 column 30"},
        {block(b64u_encode(bytes_of(R"({"alg":"EdDSA"} x)")) + ".."),
         prefix + "malformed JWT header json: trailing characters at line 1 column 17"},
        {block(b64u_encode(bytes_of(R"(["EdDSA"])")) + ".."),
         prefix + "malformed JWT header json: invalid length 1, expected struct JwtHeader with 2 "
                  "elements at line 1 column 9"},
        {block(b64u_encode(bytes_of(R"({"alg":"EdDSA","kid":"other"})")) + ".."),
         prefix + "no matching JWK"},
        {block(head_b64 + ".." + sig + "="),
         prefix + "malformed JWT signature b64: base64url padding is forbidden in VESK"},
        // Claims that do not read, under a valid signature.
        {raw_claims("not json"),
         prefix + "malformed JWT claims: expected ident at line 1 column 2"},
        {signed_claims(R"(,"aud":5)"),
         prefix + "malformed JWT claims: duplicate field `aud` at line 1 column 250"},
        // Placed where the enclosing object ends, past the whitespace and brace that follow.
        {raw_claims(R"({"iss":"x","sub":"s","iat":1,"exp":2,"aud":5 })"),
         prefix +
             "malformed JWT claims: data did not match any variant of untagged enum Aud at line 1 "
             "column 46"},
        {raw_claims(R"({"iss":"x","sub":"s","aud":"a","iat":1.5,"exp":2})"),
         prefix +
             "malformed JWT claims: invalid type: floating point `1.5`, expected i64 at line 1 "
             "column 40"},
        {raw_claims(R"({"iss":"x","sub":"s","aud":"a","iat":1,"exp":2,"cnf":{}})"),
         prefix + "malformed JWT claims: missing field `jkt` at line 1 column 55"},
        {raw_claims(R"({"iss":"https://other.example/","sub":"s","aud":"a","iat":1,"exp":2})"),
         prefix + "iss mismatch"},
    };
    for (const auto& [identity, text] : cases) EXPECT_EQ(failure(identity), text) << identity.proof;
}

TEST_F(OidcVerify, ClaimRules) {
    const std::string h = header();
    const std::string own_aid = own->aid().as_str();
    auto with = [&](std::string_view overrides) {
        return block(token(issuer.sign, h, claims(overrides)));
    };
    auto replaced = [&](std::string_view from, std::string_view to) {
        std::string text = claims();
        text.replace(text.find(from), from.size(), to);
        return block(token(issuer.sign, h, text));
    };
    const std::string prefix = "identity verification failed: ";
    // Each case rewrites one claim in place.
    const std::pair<IdentityDescriptor, std::string> cases[] = {
        {with(R"(,"extra":{"deep":[1,2]})"), "ok"},
        {replaced(R"("aud":")" + own_aid + R"(")", R"("aud":[")" + own_aid + R"("])"), "ok"},
        {replaced(R"("aud":")" + own_aid + R"(")", R"("aud":[])"), prefix + "aud mismatch"},
        {replaced(R"("sub":"agent-subject")", R"("sub":"someone")"), prefix + "sub mismatch"},
        {replaced(R"("exp":1700000600)", R"("exp":1700000000)"), prefix + "jwt exp in the past"},
        {replaced(R"("exp":1700000600)", R"("exp":1700000001)"), "ok"},
        {replaced(R"("iat":1700000000)", R"("iat":1699999700)"), "ok"},
        {replaced(R"("iat":1700000000)", R"("iat":1700000300)"), "ok"},
        {replaced(R"("iat":1700000000)", R"("iat":1699999699)"), prefix + "iat outside tolerance"},
        {replaced(R"("iat":1700000000)", R"("iat":1700000301)"), prefix + "iat outside tolerance"},
        // Far-off times are refused without overflowing the difference.
        {replaced(R"("iat":1700000000)", R"("iat":-9223372036854775808)"),
         prefix + "iat outside tolerance"},
        {replaced(R"("iat":1700000000)", R"("iat":9223372036854775807)"),
         prefix + "iat outside tolerance"},
        {replaced(R"("exp":1700000600)", R"("exp":-9223372036854775808)"),
         prefix + "jwt exp in the past"},
        {replaced(R"("nonce":"AAECAwQFBgcICQoLDA0ODw")", R"("nonce":null)"),
         prefix + "missing nonce claim"},
        {replaced(R"("nonce":"AAECAwQFBgcICQoLDA0ODw")", R"("nonce":"aaecawqfbgcicqolda0odw")"),
         prefix + "nonce mismatch"},
        {replaced(R"("cnf":{"jkt":")" + jkt + R"("})", R"("cnf":null)"),
         prefix + "missing cnf claim"},
        {replaced(jkt, std::string(43, 'A')), prefix + "cnf.jkt mismatch"},
    };
    for (const auto& [identity, text] : cases) EXPECT_EQ(failure(identity), text) << identity.proof;
}

TEST_F(OidcVerify, KeyChoiceAndResolution) {
    const std::string prefix = "identity verification failed: ";
    IssuerKey a = ed25519_issuer(20, "a"), b = ed25519_issuer(21, "b");
    IssuerKey a_again = ed25519_issuer(22, "a"), plain = ed25519_issuer(23);
    auto signed_by = [&](const IssuerKey& key, std::string_view kid) {
        std::string h = kid.empty() ? R"({"alg":"EdDSA"})"
                                    : R"({"alg":"EdDSA","kid":")" + std::string(kid) + R"("})";
        return block(token(key.sign, h, claims()));
    };
    struct Case {
        std::vector<Jwk> keys;
        IdentityDescriptor identity;
        std::string result;
    };
    const Case cases[] = {
        // A header without kid and a single key that has one: that key.
        {{a.jwk}, signed_by(a, ""), "ok"},
        {{a.jwk, b.jwk}, signed_by(a, ""), prefix + "no matching JWK"},
        {{a.jwk}, signed_by(a, "zzz"), prefix + "no matching JWK"},
        {{a.jwk, b.jwk}, signed_by(b, "b"), "ok"},
        // The first key with the kid is used.
        {{a.jwk, a_again.jwk}, signed_by(a, "a"), "ok"},
        {{a_again.jwk, a.jwk},
         signed_by(a, "a"),
         prefix + "jwt signature invalid: signature verification failed"},
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
    const Bytes input = bytes_of("a.b");
    const Bytes signature(64, 1);
    JwkKeyMaterial::Ec off_curve{};
    off_curve.x[31] = 1;
    off_curve.y[31] = 1;
    auto ec = verify_jwt_signature(Jwk{{}, {off_curve}}, "ES256", input, signature);
    ASSERT_FALSE(ec);
    EXPECT_EQ(ec.error().text(),
              "key material invalid: public key parsing failed: signature error");

    // A short modulus is refused like a bad signature.
    IssuerKey small = rsa_issuer(1024);
    std::string text = "x.y";
    auto rsa = verify_jwt_signature(small.jwk, "RS256", bytes_of(text), small.sign(text));
    ASSERT_FALSE(rsa);
    EXPECT_EQ(rsa.error().text(), "signature verification failed");
}

}  // namespace
}  // namespace vesk::handshake
