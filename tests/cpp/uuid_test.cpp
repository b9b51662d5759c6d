#include "vesk/core/uuid.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "vesk/core/clock.h"
#include "vesk/core/fault.h"

namespace vesk {
namespace {

TEST(Uuid, ReadsTheFourFormsInEitherCase) {
    const std::string canonical = "67e55044-10b1-426f-9247-bb680e5fe0c8";
    for (const char* text :
         {"67e55044-10b1-426f-9247-bb680e5fe0c8", "67E5504410B1426F9247BB680E5FE0C8",
          "{67e55044-10b1-426f-9247-BB680E5FE0C8}",
          "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8"}) {
        auto uuid = Uuid::parse(text);
        ASSERT_TRUE(uuid.has_value()) << text << ": " << uuid.error().text();
        EXPECT_EQ(uuid->to_string(), canonical) << text;
    }
    EXPECT_EQ(Uuid::parse("00000000-0000-0000-0000-000000000000")->to_string(),
              "00000000-0000-0000-0000-000000000000");
}

TEST(Uuid, NamesTheFirstFaultOfAMalformedText) {
    struct Case {
        std::string text, error;
    };
    for (const auto& [text, error] : {
             Case{"", "invalid length: expected length 32 for simple format, found 0"},
             Case{"abc", "invalid length: expected length 32 for simple format, found 3"},
             Case{"67e5504410b1426f9247bb680e5fe0c",
                  "invalid length: expected length 32 for simple format, found 31"},
             Case{"!", "invalid character: found `!` at 1"},
             Case{"zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz", "invalid character: found `z` at 1"},
             Case{"hello_world", "invalid character: found `h` at 1"},
             Case{"67e550X410b1426f9247bb680e5fe0cd", "invalid character: found `X` at 7"},
             Case{"F9168C5E-CEB2-4faa-BGBF-329BF39FA1E4", "invalid character: found `G` at 21"},
             Case{"{F9168C5E-CEB2-4faa9B6BFF329BF39FA1E41", "invalid character: found `{` at 1"},
             Case{"URN:UUID:67e55044-10b1-426f-9247-bb680e5fe0c8",
                  "invalid character: found `U` at 1"},
             Case{"67e55044-10b1-426f-9247-bb680e5fe0c\xC3\xA9",
                  "invalid character: found `\xC3\xA9` at 36"},
             Case{"F9168C5E-CEB2-4faa", "invalid group count: expected 5, found 3"},
             Case{"67e550-4105b1426f9247bb680e5fe0c", "invalid group count: expected 5, found 2"},
             Case{"{00000000000000000000000000000000}", "invalid group count: expected 5, found 1"},
             Case{"F9168C5E-CEB-24fa-eB6BFF32-BF39FA1E4",
                  "invalid group length in group 1: expected 4, found 3"},
             Case{"F9168C5E-CEB2-4faa-BBF-329BF39FA1E4",
                  "invalid group length in group 3: expected 4, found 3"},
             Case{"F9168C5E-CEB2-4faa-B6BF-329BF39FA1E45",
                  "invalid group length in group 4: expected 12, found 13"},
             Case{"01020304-1112-2122-3132-41424344",
                  "invalid group length in group 4: expected 12, found 8"},
             Case{"{zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz}", "invalid character: found `z` at 1"},
             // The found length is the group's own, braces and prefix not counted.
             Case{"{550e8400-e29b-41d4-a716-44665544000}",
                  "invalid group length in group 4: expected 12, found 11"},
             Case{"urn:uuid:550e8400-e29b-41d4-a716-4466554400000",
                  "invalid group length in group 4: expected 12, found 13"},
             Case{" 67e55044-10b1-426f-9247-bb680e5fe0c8", "invalid character: found ` ` at 1"},
         }) {
        auto uuid = Uuid::parse(text);
        ASSERT_FALSE(uuid.has_value()) << text;
        EXPECT_EQ(uuid.error().text(), error) << text;
    }
}

TEST(Uuid, NewV4SetsVersionAndVariantAndDiffers) {
    std::set<Uuid> seen;
    for (int i = 0; i < 64; ++i) {
        Uuid u = Uuid::new_v4();
        EXPECT_EQ(u.bytes[6] >> 4, 4);
        EXPECT_EQ(u.bytes[8] & 0xC0, 0x80);
        EXPECT_EQ(u.to_string()[14], '4');
        seen.insert(u);
    }
    EXPECT_EQ(seen.size(), 64u);
}

struct Tagged {
    Uuid id;
};
constexpr auto describe_json(std::type_identity<Tagged>) {
    return json::record("struct Tagged", json::member("id", &Tagged::id));
}

TEST(Uuid, ReadsAsAJsonMemberWithTheParserTextAtTheClosingQuote) {
    auto ok = json::from_json<Tagged>(R"({"id":"67E5504410B1426F9247BB680E5FE0C8"})");
    ASSERT_TRUE(ok.has_value()) << ok.error().text();
    EXPECT_EQ(json::to_json(*ok), R"({"id":"67e55044-10b1-426f-9247-bb680e5fe0c8"})");

    EXPECT_EQ(json::from_json<Tagged>(R"({"id":"hello"})").error().text(),
              "UUID parsing failed: invalid character: found `h` at 1 at line 1 column 13");
    EXPECT_EQ(json::from_json<Tagged>(R"({"id":5})").error().text(),
              "invalid type: integer `5`, expected a formatted UUID string at line 1 column 7");
    auto parsed = json::parse(R"({"id":"hello"})");
    EXPECT_EQ(json::from_value<Tagged>(*parsed).error().text(),
              "UUID parsing failed: invalid character: found `h` at 1");
}

TEST(Clock, TruncatesToWholeSecondsAndFaultsBeforeTheEpoch) {
    EXPECT_EQ(unix_seconds(timespec{1700000000, 999999999}), 1700000000);
    EXPECT_EQ(unix_seconds(timespec{0, 0}), 0);
    try {
        unix_seconds(timespec{-1, 500000000});
        ADD_FAILURE() << "no fault";
    } catch (const InternalFault& f) {
        EXPECT_STREQ(f.what(), "system time before Unix epoch");
    }
    EXPECT_GT(unix_now(), 1700000000);
}

}  // namespace
}  // namespace vesk
