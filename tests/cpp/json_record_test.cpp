#include "vesk/core/json_record.h"

#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "vesk/core/uuid.h"

// Worked example of declaring wire types (see the header comment of json_record.h).
namespace demo {

using namespace vesk;

struct Sender {
    std::string agent_id;
};
constexpr auto describe_json(std::type_identity<Sender>) {
    return json::record("struct Sender", json::member("agent_id", &Sender::agent_id));
}

enum class Color { Red, DarkBlue };
constexpr auto describe_json(std::type_identity<Color>) {
    return json::variants<Color>({"red", "dark_blue"});
}

struct Everything {
    std::string name;
    std::optional<std::string> note;
    std::int64_t at = 0;
    std::uint64_t count = 0;
    std::vector<std::string> tags;
    Sender sender;
    json::Value payload;
    std::optional<json::Extensions> extensions;
    Color color = Color::Red;
    std::optional<Uuid> id;  // a type parsed from a string
    std::string last;
};
constexpr auto describe_json(std::type_identity<Everything>) {
    return json::record(
        "struct Everything", json::member("name", &Everything::name),
        json::member("note", &Everything::note), json::member("at", &Everything::at),
        json::member("count", &Everything::count), json::member("tags", &Everything::tags),
        json::member("sender", &Everything::sender), json::member("payload", &Everything::payload),
        json::member("extensions", &Everything::extensions),
        json::member("color", &Everything::color), json::member("id", &Everything::id),
        json::member("last", &Everything::last));
}

struct Pair {
    std::string a;
    std::optional<std::string> b;
    std::string c;
};
constexpr auto describe_json(std::type_identity<Pair>) {
    return json::record("struct Pair", json::member("a", &Pair::a), json::member("b", &Pair::b),
                        json::member("c", &Pair::c));
}

}  // namespace demo

namespace vesk::json {
namespace {

using demo::Everything;
using demo::Pair;
using demo::Sender;

const char* kEverything =
    R"({"name":"n","note":"x","at":-5,"count":18446744073709551615,)"
    R"("tags":["a","b"],"sender":{"agent_id":"s"},"payload":{"z":0,"a":[1.5,null],"z":1},)"
    R"("extensions":{"b":1,"a":{"y":1,"x":2},"b":2},"color":"dark_blue",)"
    R"("id":"67E5504410B1426F9247BB680E5FE0C8","last":"l"})";

TEST(JsonRecord, RoundTripsEveryMemberKind) {
    auto e = from_json<Everything>(kEverything).value();
    // Extensions come back sorted by key, payload objects in their order; a repeated key of
    // either keeps its later value.
    EXPECT_EQ(to_json(e),
              R"({"name":"n","note":"x","at":-5,"count":18446744073709551615,)"
              R"("tags":["a","b"],"sender":{"agent_id":"s"},"payload":{"z":1,"a":[1.5,null]},)"
              R"("extensions":{"a":{"y":1,"x":2},"b":2},"color":"dark_blue",)"
              R"("id":"67e55044-10b1-426f-9247-bb680e5fe0c8","last":"l"})");
    EXPECT_EQ(to_json(*from_value<Everything>(to_value(e))), to_json(e));
}

TEST(JsonRecord, NullOptionalsReadAsAbsentAndAreNotWritten) {
    auto e = from_json<Everything>(
        R"({"name":"n","note":null,"at":0,"count":0,"tags":[],"sender":["s"],)"
        R"("payload":null,"extensions":null,"color":{"red":null},"id":null,"last":""})");
    ASSERT_TRUE(e.has_value()) << e.error().text();
    EXPECT_EQ(to_json(*e), R"({"name":"n","at":0,"count":0,"tags":[],"sender":{"agent_id":"s"},)"
                           R"("payload":null,"color":"red","last":""})");
    e->extensions.emplace();
    EXPECT_NE(to_json(*e).find(R"("extensions":{})"), std::string::npos);
}

TEST(JsonRecord, FailuresFromTextArePositioned) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"agent_id":"a","x":1})", "unknown field `x`, expected `agent_id` at line 1 column 19"},
        // An unknown member fails at once, before the rest of the text is looked at.
        {R"({"x" )", "unknown field `x`, expected `agent_id` at line 1 column 5"},
        {R"({"agent_id":"a","agent_id":"b"})", "duplicate field `agent_id` at line 1 column 26"},
        {"{}", "missing field `agent_id` at line 1 column 2"},
        {"{\n}", "missing field `agent_id` at line 2 column 1"},
        {"[]", "invalid length 0, expected struct Sender with 1 element at line 1 column 2"},
        {R"(["a","b"])", "trailing characters at line 1 column 6"},
        {R"(["a",])", "trailing comma at line 1 column 6"},
        {R"({"agent_id":"a",})", "trailing comma at line 1 column 17"},
        {R"({"agent_id":"a"} x)", "trailing characters at line 1 column 18"},
        {"5", "invalid type: integer `5`, expected struct Sender at line 1 column 1"},
        {"null", "invalid type: null, expected struct Sender at line 1 column 4"},
        {R"({"agent_id":5})", "invalid type: integer `5`, expected a string at line 1 column 13"},
        {R"({"agent_id": [1]})", "invalid type: sequence, expected a string at line 1 column 13"},
        {"{\"agent_id\":\n{}}", "invalid type: map, expected a string at line 2 column 0"},
        {R"("a\"b\\")",
         "invalid type: string \"a\\\"b\\\\\", expected struct Sender at line 1 column 8"},
        {"", "EOF while parsing a value at line 1 column 0"},
        {R"({"agent_id":"a")", "EOF while parsing an object at line 1 column 15"},
    };
    for (const auto& [input, text] : cases) {
        EXPECT_EQ(testing::outcome(from_json<Sender>(input)), text) << input;
    }
}

TEST(JsonRecord, IntegerMembersRefuseOtherNumbersAtTheirLastByte) {
    struct Case {
        std::string at;  // replaces the value of the "at" member of a valid Everything
        std::string text;
    };
    for (const auto& [at, text] : {
             Case{"1.5", "invalid type: floating point `1.5`, expected i64"},
             Case{"9223372036854775808",
                  "invalid value: integer `9223372036854775808`, expected i64"},
             Case{"-0", "invalid type: floating point `-0.0`, expected i64"},
             Case{"1e20", "invalid type: floating point `1e+20`, expected i64"},
             Case{"\"5\"", "invalid type: string \"5\", expected i64"},
             Case{"true", "invalid type: boolean `true`, expected i64"},
         }) {
        std::string json = kEverything;
        auto start = json.find("\"at\":-5") + 5;
        json.replace(start, 2, at);
        EXPECT_EQ(testing::outcome(from_json<Everything>(json)),
                  text + " at line 1 column " + std::to_string(start + at.size()))
            << at;
    }
}

TEST(JsonRecord, MemberErrorsFromTextAndFromValue) {
    struct Case {
        std::string replace, with;
        std::string upto;  // the prefix of `with` ending at the byte the error points at
        std::string text_error;
        std::string value_error;  // empty: the same text as from JSON text
    };
    for (const auto& c : {
             Case{R"("count":18446744073709551615)", R"("count":-1)", R"("count":-1)",
                  "invalid value: integer `-1`, expected u64", ""},
             Case{R"("count":18446744073709551615)", R"("count":18446744073709551616)",
                  R"("count":18446744073709551616)",
                  "invalid type: floating point `1.8446744073709552e+19`, expected u64", ""},
             Case{R"("tags":["a","b"])", R"("tags":"ab")", R"("tags":"ab")",
                  "invalid type: string \"ab\", expected a sequence", ""},
             Case{R"("tags":["a","b"])", R"("tags":["a",2])", R"("tags":["a",2)",
                  "invalid type: integer `2`, expected a string", ""},
             Case{R"("extensions":{"b":1,"a":{"y":1,"x":2},"b":2})", R"("extensions":[])",
                  R"("extensions":)", "invalid type: sequence, expected a map", ""},
             Case{R"("color":"dark_blue")", R"("color":"Red")", R"("color":"Red")",
                  "unknown variant `Red`, expected `red` or `dark_blue`", ""},
             Case{R"("color":"dark_blue")", R"("color":{"red":1})", R"("color":{"red":1)",
                  "invalid type: integer `1`, expected unit", ""},
             Case{R"("color":"dark_blue")", R"("color":{})", R"("color":{})", "expected value",
                  "invalid value: map, expected map with a single key"},
             Case{R"("color":"dark_blue")", R"("color":{"red":null,"dark_blue":null})",
                  R"("color":{"red":null)", "expected value",
                  "invalid value: map, expected map with a single key"},
             Case{R"("color":"dark_blue")", R"("color":{5:null})", R"("color":{5)",
                  "key must be a string", "unknown variant `5`, expected `red` or `dark_blue`"},
             Case{R"("color":"dark_blue")", R"("color":5)", R"("color":5)", "expected value",
                  "invalid type: integer `5`, expected string or map"},
             Case{R"("id":"67E5504410B1426F9247BB680E5FE0C8")", R"("id":"hello")",
                  R"("id":"hello")", "UUID parsing failed: invalid character: found `h` at 1", ""},
             Case{R"("id":"67E5504410B1426F9247BB680E5FE0C8")", R"("id":7)", R"("id":7)",
                  "invalid type: integer `7`, expected a formatted UUID string", ""},
             Case{R"("sender":{"agent_id":"s"})", R"("sender":{"agent_id":"s","n":1})",
                  R"("sender":{"agent_id":"s","n")", "unknown field `n`, expected `agent_id`", ""},
             Case{R"("sender":{"agent_id":"s"})", R"("sender":["s","t"])", R"("sender":["s",")",
                  "trailing characters", "invalid length 2, expected fewer elements in array"},
         }) {
        std::string text = kEverything;
        auto at = text.find(c.replace);
        ASSERT_NE(at, std::string::npos) << c.replace;
        ASSERT_TRUE(c.with.starts_with(c.upto)) << c.with;
        text.replace(at, c.replace.size(), c.with);
        EXPECT_EQ(testing::outcome(from_json<Everything>(text)),
                  c.text_error + " at line 1 column " + std::to_string(at + c.upto.size()))
            << c.with;

        // {5:null} is not JSON; a parsed value can only hold {"5":null}.
        if (auto k = text.find("{5:"); k != std::string::npos) text.replace(k, 3, R"({"5":)");
        EXPECT_EQ(testing::outcome(from_value<Everything>(parse(text).value())),
                  c.value_error.empty() ? c.text_error : c.value_error)
            << c.with;
    }
}

TEST(JsonRecord, PositionalFormSkipsTrailingOptionalsAndNamesTheFirstMissingPosition) {
    const std::string short_pair = "invalid length 2, expected struct Pair with 3 elements";
    const std::pair<std::string, std::string> cases[] = {
        {R"(["a",null,"c"])", "ok"},
        {R"(["a"])", short_pair + " at line 1 column 5"},
        {R"(["a","b"])", short_pair + " at line 1 column 9"},
        {"[]", "invalid length 0, expected struct Pair with 3 elements at line 1 column 2"},
        {R"(["a","b","c","d"])", "trailing characters at line 1 column 14"},
    };
    for (const auto& [input, text] : cases) {
        EXPECT_EQ(testing::outcome(from_json<Pair>(input)), text) << input;
    }
}

TEST(JsonRecord, FromValueHasNoPositionsAndTakesTheLaterOfRepeatedMembers) {
    const std::string repeated = R"({"c":"1","a":"x","c":"2"})";
    EXPECT_EQ(from_value<Pair>(*parse(repeated))->c, "2");
    EXPECT_EQ(from_json<Pair>(repeated).error().text(), "duplicate field `c` at line 1 column 20");
    const std::pair<std::string, std::string> cases[] = {
        {R"({"a":"x"})", "missing field `c`"},
        {R"({"a":"x","d":1})", "unknown field `d`, expected one of `a`, `b`, `c`"},
        {R"(["x"])", "invalid length 2, expected struct Pair with 3 elements"},
        {R"(["x","y","z","w","v"])", "invalid length 5, expected fewer elements in array"},
        {"true", "invalid type: boolean `true`, expected struct Pair"},
    };
    for (const auto& [json, text] : cases) {
        EXPECT_EQ(testing::outcome(from_value<Pair>(*parse(json))), text) << json;
    }
}

TEST(JsonRecord, NestingBudgetCoversRecordsAndTheirValues) {
    auto nested = [](int n) {
        return R"({"agent_id":"a","x":)" + std::string(n, '[') + std::string(n, ']') + "}";
    };
    // The record takes one level; its unknown member fails before its value is read.
    EXPECT_EQ(from_json<Sender>(nested(200)).error().message,
              "unknown field `x`, expected `agent_id`");
    std::string deep = R"({"name":"n","payload":)" + std::string(127, '[');
    EXPECT_EQ(from_json<Everything>(deep).error().text(),
              "recursion limit exceeded at line 1 column 149");
}

}  // namespace
}  // namespace vesk::json
