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

std::string canonical_or_error(const std::expected<std::string, CanonicalJsonError>& result) {
    return result ? *result : result.error().text();
}

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
        auto canonical = canonical_json(json::parse(test::read_data("jcs/input/" + name)).value());
        EXPECT_EQ(canonical.value_or("refused"), test::read_data("jcs/output/" + name)) << name;
    }
    EXPECT_EQ(files, 6) << test::data_path("jcs/input") << ": " << error.message();
}

// Each line: IEEE bits in hex, a comma, the expected text (perhaps quoted), perhaps more.
TEST(CanonicalJson, FormatsNumbersLikeEcmaScript) {
    for (const auto& [file, expected_lines] : {std::pair{"jcs/es6testfile_first10k.txt", 10000},
                                               {"jcs/es6_number_golden_vectors.csv", 54445},
                                               {"jcs/rfc8785_appendix_b.csv", 24}}) {
        std::istringstream in(test::read_data(file));
        std::string line;
        int lines = 0, failures = 0;
        while (std::getline(in, line)) {
            if (line.empty() || line.starts_with("ieee")) continue;
            ++lines;
            const auto a = line.find(','), b = line.find(',', a + 1);
            std::string expected = line.substr(a + 1, b == line.npos ? b : b - a - 1);
            if (expected.starts_with('"')) expected = expected.substr(1, expected.size() - 2);
            const std::string actual = es_number(from_hex_bits(line.substr(0, a)));
            if (actual != expected && ++failures <= 10)
                ADD_FAILURE() << file << ": " << line << " gave " << actual;
        }
        EXPECT_EQ(lines, expected_lines) << file;
    }
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
             Case{
                 "{\"\xEF\xBD\xA1\":1,\"\xF0\x9F\x98\x80\":2,\"b\":3,\"\xF0\x90\x80\x80\":4,"
                 "\"a\":{\"z\":[],\"y\":{}}}",
                 "{\"a\":{\"y\":{},\"z\":[]},\"b\":3,\"\xF0\x90\x80\x80\":4,\"\xF0\x9F\x98\x80\":2,"
                 "\"\xEF\xBD\xA1\":1}"},
             Case{R"({"s":"\u0000\u001f\"\\\/\u007f\u00e9"})",
                  "{\"s\":\"\\u0000\\u001f\\\"\\\\/\x7f\xC3\xA9\"}"},
         }) {
        EXPECT_EQ(canonical_json(*json::parse(json)).value_or("refused"), canonical) << json;
    }
}

TEST(CanonicalJson, RefusesNonFiniteNumbersAndRepeatedNames) {
    const std::string non_finite =
        "number is not finite (NaN or Infinity is not permitted in JSON)";
    json::Array items{json::Value(1), json::Value(std::numeric_limits<double>::quiet_NaN())};
    EXPECT_EQ(canonical_or_error(canonical_json(json::Value(items))), non_finite);
    EXPECT_EQ(
        canonical_or_error(canonical_json(json::Value(-std::numeric_limits<double>::infinity()))),
        non_finite);
    json::Object o;
    o.append_new("k", 1);
    o.append_new("k", 2);
    EXPECT_EQ(canonical_or_error(canonical_json(json::Value(o))),
              "duplicate key 'k' in JSON object");
}

}  // namespace
}  // namespace vesk
