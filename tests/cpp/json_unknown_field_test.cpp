#include <gtest/gtest.h>

#include <array>
#include <string>

#include "vesk/core/json_reader.h"
#include "vesk/core/unknown_field.h"

namespace vesk {
namespace {

constexpr std::array<std::string_view, 10> kTctNames = {"ver", "iss", "sub",    "aud", "iat",
                                                        "exp", "jti", "grants", "cnf", "ext"};

TEST(ParseJsonValue, ChecksOnlyTheLeadingValue) {
    struct Case {
        std::string bytes;
        std::optional<std::string> error;
    };
    for (const auto& [bytes, error] : {
             Case{R"({"a":1} trailing)", std::nullopt},
             Case{"[1,2]]]", std::nullopt},
             Case{"", "EOF while parsing a value at line 1 column 0"},
             Case{R"({"a":)", "EOF while parsing a value at line 1 column 5"},
             Case{R"({"a":1,"a":2})", std::nullopt},  // repeated names are the typed reader's concern
             Case{R"({"x":[{"b":1, "b" :2}]})", std::nullopt},
             Case{std::string(128, '[') + std::string(128, ']'),
                  "recursion limit exceeded at line 1 column 128"},
             Case{std::string(127, '[') + std::string(127, ']'), std::nullopt},
         }) {
        EXPECT_EQ(parse_json_value(bytes), error) << bytes;
    }
}

TEST(UnknownFieldName, ExtractsTheNameOfUnknownMemberErrorsOnly) {
    EXPECT_EQ(unknown_field_name({"unknown field `kid`, expected `alg` or `typ`", 1, 20}), "kid");
    EXPECT_EQ(unknown_field_name({"unknown field ``, expected `a`"}), "");
    EXPECT_EQ(unknown_field_name({"unknown field `open"}), std::nullopt);
    EXPECT_EQ(unknown_field_name({"missing field `kid`", 1, 2}), std::nullopt);
    EXPECT_EQ(unknown_field_name({"unknown variant `x`, expected `a`"}), std::nullopt);
}

TEST(FirstUnknownField, LooksAtTopLevelNamesInMemberOrder) {
    struct Case {
        const char* json;
        std::optional<std::string> found;
    };
    for (auto [json, found] : {
             Case{R"({"ver":1,"zz":2,"yy":3})", "zz"},
             Case{R"({"Ver":1})", "Ver"},
             Case{R"({"cnf":{"unknown":1},"ext":{}})", std::nullopt},
             Case{R"({"zz":1,"ver":2,"zz":3})", "zz"},
             Case{"{}", std::nullopt},
             Case{R"(["zz"])", std::nullopt},
             Case{R"("zz")", std::nullopt},
         }) {
        auto value = json::parse(json);
        ASSERT_TRUE(value.has_value()) << json;
        EXPECT_EQ(first_unknown_field(*value, kTctNames), found) << json;
    }
}

}  // namespace
}  // namespace vesk
