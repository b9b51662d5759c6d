// The generic JSON reader: any input either parses or fails with a positioned error, and
// what parses survives a compact write and re-read unchanged.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "vesk/core/json_reader.h"
#include "vesk/core/json_write.h"

using namespace vesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);

    auto value = json::parse(text);
    if (!value) {
        fuzz::require(value.error().has_position(), "a parse error carries its position");
        return 0;
    }
    const std::string compact = json::write_compact(*value);
    auto again = json::parse(compact);
    fuzz::require(again.has_value(), "compact output parses");
    fuzz::require(*again == *value, "compact output re-reads as the same value");
    fuzz::require(json::write_compact(*again) == compact, "compact writing is stable");
    fuzz::require(json::TextReader(text).read_value().has_value(), "a parsed text is well-formed");
    return 0;
}
