#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "vesk/core/json_reader.h"
#include "vesk/core/json_write.h"

namespace vesk::json {
namespace {

std::string repeated(std::string_view text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

TEST(JsonSyntax, ErrorsNameTheFaultAndItsLineAndColumn) {
    const std::pair<std::string, std::string> cases[] = {
        {"   ", "EOF while parsing a value at line 1 column 3"},
        {"[1,", "EOF while parsing a value at line 1 column 3"},
        {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
        {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
        {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
        {"\"abc", "EOF while parsing a string at line 1 column 4"},
        {"\"\\u000", "EOF while parsing a string at line 1 column 6"},
        {"\"\\uD800", "EOF while parsing a string at line 1 column 7"},
        {"nul", "EOF while parsing a value at line 1 column 3"},
        {"nulx", "expected ident at line 1 column 4"},
        {"x", "expected value at line 1 column 1"},
        {"{\"a\":}", "expected value at line 1 column 6"},
        {"[1,]", "trailing comma at line 1 column 4"},
        {"{\"a\":1,}", "trailing comma at line 1 column 8"},
        {"{\"a\":1}\n\nx", "trailing characters at line 3 column 1"},
        {"\"\xC3\xA9\" x", "trailing characters at line 1 column 6"},
        {"[1 2]", "expected `,` or `]` at line 1 column 4"},
        {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
        {"{\"a\" 1}", "expected `:` at line 1 column 6"},
        {"{1:2}", "key must be a string at line 1 column 2"},
        {"{\"a\":1,2:3}", "key must be a string at line 1 column 8"},
        {"\"\\x\"", "invalid escape at line 1 column 3"},
        {"\"\\u12G4\"", "invalid escape at line 1 column 7"},
        {"\"\x1F\"",
         "control character (\\u0000-\\u001F) found while parsing a string at line 1 "
         "column 2"},
        {"\"a\nb\"",
         "control character (\\u0000-\\u001F) found while parsing a string at line 2 "
         "column 0"},
        {"\"\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 7"},
        {"\"\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
        {"\"\\uD800\"", "unexpected end of hex escape at line 1 column 8"},
        {"\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
        {"\"\xFF\"", "invalid unicode code point at line 1 column 3"},
        {"\"\xED\xA0\x80\"", "invalid unicode code point at line 1 column 5"},
        {"01", "invalid number at line 1 column 2"},
        {"1.a", "invalid number at line 1 column 3"},
        {"1ea", "invalid number at line 1 column 3"},
        {"-", "EOF while parsing a value at line 1 column 1"},
        {"1e+", "EOF while parsing a value at line 1 column 3"},
        {"+1", "expected value at line 1 column 1"},
        {"1e400", "number out of range at line 1 column 5"},
        {"100e777777777777777777777777777", "number out of range at line 1 column 14"},
        {"{\n  \"foo\":\n \"bar\"", "EOF while parsing an object at line 3 column 6"},
        {"[,1]", "expected value at line 1 column 2"},
        {"\xEF\xBB\xBF{}", "expected value at line 1 column 1"},
        {"{} \r\n\t{", "trailing characters at line 2 column 2"},
        // 127 levels of nesting are taken, the 128th is refused.
        {std::string(127, '['), "EOF while parsing a list at line 1 column 127"},
        {std::string(128, '['), "recursion limit exceeded at line 1 column 128"},
        {repeated("{\"k\":", 127), "EOF while parsing a value at line 1 column 635"},
        {repeated("{\"k\":", 128), "recursion limit exceeded at line 1 column 636"},
    };
    for (const auto& [input, text] : cases) {
        auto result = parse(input);
        EXPECT_EQ(result ? "parsed" : result.error().text(), text) << input;
    }
}

TEST(JsonNumbers, KeepTheReadersClassification) {
    struct Case {
        const char* text;
        Kind kind;
    };
    for (auto [text, kind] :
         {Case{"0", Kind::Unsigned}, Case{"18446744073709551615", Kind::Unsigned},
          Case{"18446744073709551616", Kind::Double}, Case{"-1", Kind::Negative},
          Case{"-9223372036854775808", Kind::Negative}, Case{"-9223372036854775809", Kind::Double},
          Case{"-0", Kind::Double}, Case{"1.0", Kind::Double}, Case{"1e2", Kind::Double}}) {
        EXPECT_EQ(parse(text).value().kind(), kind) << text;
    }
    EXPECT_EQ(*parse("-9223372036854775808")->as_negative(), INT64_MIN);
    EXPECT_TRUE(std::signbit(*parse("-0")->as_double()));
    EXPECT_EQ(*parse("1e-400")->as_double(), 0.0);
    EXPECT_TRUE(std::signbit(*parse("-1e-400")->as_double()));
    EXPECT_EQ(*parse("5e-324")->as_double(), 5e-324);
    EXPECT_EQ(*parse("0.1")->as_double(), 0.1);
    EXPECT_EQ(*parse("1" + std::string(400, '0') + "e-400")->as_double(), 1.0);
}

// A buffer holding only the digits, as decoded token payloads do; under AddressSanitizer any
// look past the last digit fails the test.
TEST(JsonNumbers, TooLargeIntegerAtTheEndOfTheBufferIsRefusedWithoutReadingPastIt) {
    for (std::string text : {std::string(400, '4'), "-" + std::string(400, '4')}) {
        std::vector<std::uint8_t> bytes(text.begin(), text.end());
        EXPECT_EQ(parse(std::span<const std::uint8_t>(bytes)).error().message,
                  "number out of range");
    }
}

TEST(JsonObjects, RepeatedNameKeepsFirstPlaceAndLaterValue) {
    EXPECT_EQ(write_compact(parse(R"({"b":1,"a":2,"b":3})").value()), R"({"b":3,"a":2})");

    // Past the size where a hash index takes over, repeats still collapse.
    std::string big = "{";
    for (int i = 0; i < 40; ++i) big += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    big += "\"k3\":\"x\",\"k39\":true}";
    auto b = parse(big).value();
    ASSERT_EQ(b.as_object()->size(), 40u);
    EXPECT_EQ(*b.as_object()->find("k3"), Value("x"));
    EXPECT_EQ((*b.as_object())[39].second, Value(true));
}

// 16-byte names sharing one value of libstdc++'s std::hash<std::string> (murmur mixing under a
// fixed seed): each has its own first word; the second is solved for by inverting the mixing
// step, so that the state after both words is zero. Only ASCII solutions are kept.
std::vector<std::string> names_sharing_one_std_hash(std::size_t count) {
    constexpr std::uint64_t kMul = 0xc6a4a7935bd1e995, kSeed = 0xc70f6907;
    auto shift_mix = [](std::uint64_t v) { return v ^ (v >> 47); };  // its own inverse
    std::uint64_t inverse = kMul;
    for (int i = 0; i < 5; ++i) inverse *= 2 - kMul * inverse;
    std::vector<std::string> names;
    for (std::uint64_t i = 0; names.size() < count; ++i) {
        char name[16];
        for (int k = 0; k < 8; ++k) name[k] = "0123456789abcdef"[(i >> (28 - 4 * k)) & 15];
        std::uint64_t first;
        std::memcpy(&first, name, 8);
        const std::uint64_t state = ((kSeed ^ 16 * kMul) ^ shift_mix(first * kMul) * kMul) * kMul;
        const std::uint64_t second = shift_mix(state * inverse) * inverse;
        if (second & 0x8080808080808080) continue;
        std::memcpy(name + 8, &second, 8);
        names.emplace_back(name, 16);
    }
    return names;
}

TEST(JsonObjects, NamesSharingOneStdHashCostAboutWhatOrdinaryNamesCost) {
    constexpr std::size_t kCount = 20000;
    auto seconds_to_read = [&](const std::vector<std::string>& names) {
        std::string text = "{";
        for (const std::string& name : names) text += write_compact(Value(name)) + ":0,";
        text.back() = '}';
        double best = 1e9;
        for (int round = 0; round < 3; ++round) {
            const auto start = std::chrono::steady_clock::now();
            auto value = parse(text);
            best = std::min(
                best,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            EXPECT_EQ(value->as_object()->size(), kCount);
        }
        return best;
    };
    const std::vector<std::string> colliding = names_sharing_one_std_hash(kCount);
    std::vector<std::string> ordinary = colliding;
    for (std::string& name : ordinary) name.replace(8, 8, "ordinary");
    EXPECT_LT(seconds_to_read(colliding), 4 * seconds_to_read(ordinary));
}

TEST(JsonStrings, DecodeEscapesAndSurrogatePairs) {
    EXPECT_EQ(*parse(R"("a\"\\\/\b\f\n\r\t\u0041\u00e9\ud83d\ude00")").value().as_string(),
              "a\"\\/\b\f\n\r\tA\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(JsonWriter, EscapesQuotesBackslashesAndControlsAndKeepsMemberOrder) {
    auto v = parse(
        "{\"z\":\"\\u0000\\u000b\\u001f\\u007f/\xC3\xA9\\\"\\\\\\b\\f\\n\\r\\t\",\"a\":[null,"
        "true,false,-5,18446744073709551615,1.5]}");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(
        write_compact(*v),
        "{\"z\":\"\\u0000\\u000b\\u001f\x7f/\xC3\xA9\\\"\\\\\\b\\f\\n\\r\\t\",\"a\":[null,true,"
        "false,-5,18446744073709551615,1.5]}");
    EXPECT_EQ(write_compact(Value(std::numeric_limits<double>::infinity())), "null");
}

TEST(JsonWriter, FormatsDoublesWithShortestDigits) {
    struct Case {
        double d;
        const char* text;
    };
    for (auto [d, text] :
         {Case{1.0, "1.0"}, Case{-1.5, "-1.5"}, Case{-0.0, "-0.0"},
          Case{1e15, "1000000000000000.0"}, Case{1e16, "1e+16"}, Case{1e-5, "0.00001"},
          Case{1e-6, "1e-6"}, Case{1.7976931348623157e308, "1.7976931348623157e+308"},
          Case{5e-324, "5e-324"}, Case{123456789012345.6, "123456789012345.6"}}) {
        EXPECT_EQ(format_double(d), text);
    }
}

TEST(JsonMessages, QuoteFoundStringsForDisplay) {
    EXPECT_EQ(debug_quote("a\"b\\c'"), R"("a\"b\\c'")");
    EXPECT_EQ(debug_quote(std::string("\t\r\n\0\x01\x7f", 6)), R"("\t\r\n\0\u{1}\u{7f}")");
    EXPECT_EQ(debug_quote("\xC3\xA9\xE2\x80\xA8"), "\"\xC3\xA9\\u{2028}\"");
}

}  // namespace
}  // namespace vesk::json
