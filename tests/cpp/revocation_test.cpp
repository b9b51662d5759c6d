#include <gtest/gtest.h>

#include <string>

#include "vesk/revocation/revocation_list.h"

namespace vesk::revocation {
namespace {

constexpr std::string_view kIssuer = "aid:pubkey:iojj3XQJ8ZX9UtstPLpdcspnCb8dlBIb83SIAbQPb1w";

std::string envelope_text(std::string_view entries, std::string_view extra = "") {
    return R"({"revocation_list":{"version":"vesk/0.2","issuer":")" + std::string(kIssuer) +
           R"(","published_at":1,"expires_at":2,"entries":)" + std::string(entries) +
           std::string(extra) + R"(},"signature":"sig"})";
}

std::string bytes_of(const std::string& text) {
    auto envelope = json::from_json<RevocationListEnvelope>(text);
    if (!envelope) return envelope.error().text();
    return *signing_bytes(envelope->revocation_list);
}

TEST(RevocationSigningBytes, CanonicalOrderNumbersAndOptionalMembers) {
    const std::string entries =
        R"([{"jti":"0B6F0E6C-3C2A-4D7E-9B1A-5F0C2D3E4F50","revoked_at":9007199254740993,"reason":""},)"
        R"(["0b6f0e6c3c2a4d7e9b1a5f0c2d3e4f50",9223372036854775807],)"
        R"({"jti":"{0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50}","revoked_at":-3,"reason":"a\"/\u0001é"}])";
    const std::string jti = R"({"jti":"0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50",)";
    EXPECT_EQ(bytes_of(envelope_text(entries, R"(,"extensions":{"z":1.50,"a":{"y":1,"b":null}})")),
              R"({"entries":[)" + jti + R"("reason":"","revoked_at":9007199254740992},)" + jti +
                  R"("revoked_at":9223372036854776000},)" + jti +
                  R"("reason":"a\"/\u0001é","revoked_at":-3}],"expires_at":2,)"
                  R"("extensions":{"a":{"b":null,"y":1},"z":1.5},"issuer":")" +
                  std::string(kIssuer) + R"(","published_at":1,"version":"vesk/0.2"})");
    EXPECT_EQ(bytes_of(envelope_text("[]", R"(,"extensions":null)")).find("extensions"),
              std::string::npos);
    EXPECT_NE(bytes_of(envelope_text("[]", R"(,"extensions":{})")).find(R"("extensions":{})"),
              std::string::npos);
}

TEST(RevocationReading, UnknownMemberNamesTheListsMembers) {
    EXPECT_TRUE(bytes_of(envelope_text("[]", R"(,"note":1)"))
                    .starts_with("unknown field `note`, expected one of `version`, `issuer`, "
                                 "`published_at`, `expires_at`, `entries`, `extensions` at line 1 "
                                 "column "));
}

}  // namespace
}  // namespace vesk::revocation
