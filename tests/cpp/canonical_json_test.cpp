#include "vesk/core/canonical_json.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>

#include "test_data.h"
#include "vesk/core/hex.h"
#include "vesk/core/json_reader.h"

namespace vesk {
namespace {

double from_hex_bits(std::string_view hex) {
    std::uint64_t bits = 0;
    for (char c : hex) bits = (bits << 4) | static_cast<std::uint64_t>(hex_value(c));
    return std::bit_cast<double>(bits);
}

TEST(CanonicalJson, ReproducesTheReferenceOutputsByteForByte) {
    int files = 0;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(test::data_path("jcs/input"), error)) {
        ++files;
        const std::string name = entry.path().filename();
        auto value = json::parse(test::read_data("jcs/input/" + name));
        ASSERT_TRUE(value.has_value()) << name << ": " << value.error().text();
        auto canonical = canonical_json(*value);
        ASSERT_TRUE(canonical.has_value()) << name;
        EXPECT_EQ(*canonical, test::read_data("jcs/output/" + name)) << name;
    }
    EXPECT_EQ(files, 6) << test::data_path("jcs/input") << ": " << error.message();
}

// Each line: IEEE bits in hex, a comma, the expected text.
void check_number_file(const std::string& relative, std::size_t expected_lines) {
    std::istringstream in(test::read_data(relative));
    std::string line;
    std::size_t lines = 0, failures = 0;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        ++lines;
        auto comma = line.find(',');
        double d = from_hex_bits(std::string_view(line).substr(0, comma));
        std::string expected = line.substr(comma + 1);
        if (es_number(d) != expected && ++failures <= 10) {
            ADD_FAILURE() << relative << ": " << line << " gave " << es_number(d);
        }
    }
    EXPECT_EQ(lines, expected_lines);
    EXPECT_EQ(failures, 0u);
}

TEST(CanonicalJson, FormatsNumbersLikeEcmaScript) {
    check_number_file("jcs/es6testfile_first10k.txt", 10000);
    check_number_file("jcs/es6_number_golden_vectors.csv", 54445);
}

TEST(CanonicalJson, MatchesTheRfcAppendixNumbers) {
    std::istringstream in(test::read_data("jcs/rfc8785_appendix_b.csv"));
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line.starts_with("ieee")) continue;
        auto a = line.find(','), b = line.find(',', a + 1);
        std::string expected = line.substr(a + 1, b - a - 1);
        if (expected.size() >= 2 && expected.front() == '"')
            expected = expected.substr(1, expected.size() - 2);
        EXPECT_EQ(es_number(from_hex_bits(line.substr(0, a))), expected) << line;
        ++rows;
    }
    EXPECT_EQ(rows, 24);
}

TEST(CanonicalJson, WritesIntegersAsDoublesAndSortsByUtf16Units) {
    struct Case {
        const char* json;
        const char* canonical;
    };
    for (auto [json, canonical] : {
             Case{"9007199254740993", "9007199254740992"},
             Case{"18446744073709551615", "18446744073709552000"},
             Case{"-9223372036854775808", "-9223372036854776000"},
             Case{"-0", "0"},
             Case{"1E21", "1e+21"},
             Case{"[1.0, 0.000001, 1e-7, 123e20]", "[1,0.000001,1e-7,1.23e+22]"},
             // U+FF61 (one unit FF61) sorts after U+1F600 (units D83D DE00); U+10000 is the
             // first code point written as two units (D800 DC00).
             Case{"{\"\xEF\xBD\xA1\":1,\"\xF0\x9F\x98\x80\":2,\"b\":3,\"\xF0\x90\x80\x80\":4,"
                  "\"a\":{\"z\":[],\"y\":{}}}",
                  "{\"a\":{\"y\":{},\"z\":[]},\"b\":3,\"\xF0\x90\x80\x80\":4,\"\xF0\x9F\x98\x80\":2,"
                  "\"\xEF\xBD\xA1\":1}"},
             Case{R"({"s":"\u0000\u001f\"\\\/\u007f\u00e9"})",
                  "{\"s\":\"\\u0000\\u001f\\\"\\\\/\x7f\xC3\xA9\"}"},
         }) {
        auto value = json::parse(json);
        ASSERT_TRUE(value.has_value()) << json;
        EXPECT_EQ(canonical_json(*value), canonical) << json;
    }
}

TEST(CanonicalJson, RefusesNonFiniteNumbersAndRepeatedNames) {
    json::Array items{json::Value(1), json::Value(std::numeric_limits<double>::quiet_NaN())};
    auto nan = canonical_json(json::Value(items));
    ASSERT_FALSE(nan.has_value());
    EXPECT_EQ(nan.error().text(),
              "number is not finite (NaN or Infinity is not permitted in JSON)");
    EXPECT_FALSE(canonical_json(json::Value(-std::numeric_limits<double>::infinity())).has_value());

    json::Object o;
    o.append_new("k", 1);
    o.append_new("k", 2);
    auto dup = canonical_json(json::Value(o));
    ASSERT_FALSE(dup.has_value());
    EXPECT_EQ(dup.error().text(), "duplicate key 'k' in JSON object");
    EXPECT_EQ((CanonicalJsonError{CanonicalJsonError::Kind::Serialization, "x"}.text()),
              "serialization failed: x");
}

}  // namespace
}  // namespace vesk
