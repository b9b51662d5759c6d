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
        EXPECT_EQ(uuid ? uuid->to_string() : uuid.error().text(), canonical) << text;
    }
}

TEST(Uuid, NamesTheFirstFaultOfAMalformedText) {
    const std::pair<std::string, std::string> cases[] = {
        {"abc", "invalid length: expected length 32 for simple format, found 3"},
        {"67e5504410b1426f9247bb680e5fe0c",
         "invalid length: expected length 32 for simple format, found 31"},
        {"!", "invalid character: found `!` at 1"},
        {"zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz", "invalid character: found `z` at 1"},
        {"67e550X410b1426f9247bb680e5fe0cd", "invalid character: found `X` at 7"},
        {"F9168C5E-CEB2-4faa-BGBF-329BF39FA1E4", "invalid character: found `G` at 21"},
        {"{F9168C5E-CEB2-4faa9B6BFF329BF39FA1E41", "invalid character: found `{` at 1"},
        {"URN:UUID:67e55044-10b1-426f-9247-bb680e5fe0c8", "invalid character: found `U` at 1"},
        {"67e55044-10b1-426f-9247-bb680e5fe0c\xC3\xA9",
         "invalid character: found `\xC3\xA9` at 36"},
        {"F9168C5E-CEB2-4faa", "invalid group count: expected 5, found 3"},
        {"{00000000000000000000000000000000}", "invalid group count: expected 5, found 1"},
        {"F9168C5E-CEB-24fa-eB6BFF32-BF39FA1E4",
         "invalid group length in group 1: expected 4, found 3"},
        {"F9168C5E-CEB2-4faa-B6BF-329BF39FA1E45",
         "invalid group length in group 4: expected 12, found 13"},
        {"{zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz}", "invalid character: found `z` at 1"},
        // The found length is the group's own, braces and prefix not counted.
        {"{550e8400-e29b-41d4-a716-44665544000}",
         "invalid group length in group 4: expected 12, found 11"},
        {"urn:uuid:550e8400-e29b-41d4-a716-4466554400000",
         "invalid group length in group 4: expected 12, found 13"},
        {" 67e55044-10b1-426f-9247-bb680e5fe0c8", "invalid character: found ` ` at 1"},
    };
    for (const auto& [text, error] : cases) {
        auto uuid = Uuid::parse(text);
        EXPECT_EQ(uuid ? "parsed" : uuid.error().text(), error) << text;
    }
}

TEST(Uuid, NewV4SetsVersionAndVariantAndDiffers) {
    std::set<Uuid> seen;
    for (int i = 0; i < 64; ++i) {
        Uuid u = Uuid::new_v4();
        EXPECT_EQ(u.bytes[6] >> 4, 4);
        EXPECT_EQ(u.bytes[8] & 0xC0, 0x80);
        seen.insert(u);
    }
    EXPECT_EQ(seen.size(), 64u);
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
