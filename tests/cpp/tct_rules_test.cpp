#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "vesk/core/saturating.h"
#include "vesk/tokens/grants.h"
#include "vesk/tokens/tct_error.h"

namespace vesk {
namespace {

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

TEST(Saturating, ClampsInsteadOfWrapping) {
    EXPECT_EQ(sat_add(kMax, 1), kMax);
    EXPECT_EQ(sat_add(1, kMax), kMax);
    EXPECT_EQ(sat_add(-1, kMin), kMin);
    EXPECT_EQ(sat_add(5, -7), -2);
    EXPECT_EQ(sat_sub(kMin, 1), kMin);
    EXPECT_EQ(sat_sub(0, kMin), kMax);
    EXPECT_EQ(sat_sub(kMax, -1), kMax);
    EXPECT_EQ(sat_sub(-5, 7), -12);
}

TEST(GrantWhitespace, MatchesExactlyTheWhiteSpaceProperty) {
    const std::vector<std::string> white = {
        "\t",     "\n",     "\v",     "\f",     "\r",     " ",      "\u0085", "\u00a0",
        "\u1680", "\u2000", "\u200a", "\u2028", "\u2029", "\u202f", "\u205f", "\u3000"};
    for (const auto& c : white) EXPECT_TRUE(has_unicode_whitespace("a" + c + "b")) << c;
    for (const char* c : {"", "read", "\u200b", "\u180e", "\u2060", "\ufeff", "caf\u00e9"}) {
        EXPECT_FALSE(has_unicode_whitespace(c)) << c;
    }
    const std::vector<std::string> grants = {"read", "", "write all", "a\u00a0b"};
    ASSERT_NE(first_grant_with_whitespace(grants), nullptr);
    EXPECT_EQ(*first_grant_with_whitespace(grants), "write all");
    EXPECT_EQ(first_grant_with_whitespace({"read", ""}), nullptr);
}

TEST(TctErrorText, EveryVariantHasItsText) {
    using K = TctError::Kind;
    const std::vector<std::pair<TctError, std::string>> cases = {
        {TctError::of(K::VersionUnsupported), "TCT version is not supported"},
        {TctError::of(K::SignatureInvalid), "TCT signature is invalid"},
        {TctError::of(K::IssuerMismatch), "TCT issuer does not match the verifying key"},
        {TctError::of(K::AudienceMismatch), "TCT audience does not match"},
        {TctError::of(K::Expired), "TCT has expired or is not yet valid"},
        {TctError::of(K::ExceedsManifestExpiry),
         "TCT expires_at exceeds issuer Manifest expires_at"},
        {TctError::of(K::Revoked), "TCT jti is revoked"},
        {TctError::of(K::EmptyGrants), "TCT grants must be non-empty"},
        {TctError::of(K::GrantWhitespace, "read write"),
         "TCT grant must not contain whitespace: `read write`"},
        {TctError::of(K::CnfMismatch), "TCT cnf.jkt does not match the subject key"},
        {TctError::claims_malformed("x"), "claims malformed: x"},
        {TctError::unknown_field("nbf"), "unknown field: nbf"},
        {TctError::of(K::MissingField, "subject"), "missing required field: subject"},
        {TctError::of(K::Canonicalization, "y"), "canonicalization failed: y"},
        {TctError::of(K::PopNonceEchoMismatch), "PoP nonce echo mismatch"},
        {TctError::of(K::PopSignatureFailed), "PoP signature failed"},
        {TctError::of(K::PopChallengeExpired), "PoP challenge expired"},
        {TctError::of(K::PopResponseJtiMismatch), "PoP response jti mismatch"},
        {TctError::from(CryptoError::verification_failed()), "signature verification failed"},
    };
    ASSERT_EQ(cases.size(), 19u);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(cases[i].first.kind), i);
        EXPECT_EQ(cases[i].first.text(), cases[i].second);
    }
}

}  // namespace
}  // namespace vesk
