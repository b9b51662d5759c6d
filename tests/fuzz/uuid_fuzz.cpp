// UUID parsing: an accepted text formats as 36 lowercase characters that parse to the same bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "vesk/core/uuid.h"

using namespace vesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto uuid = Uuid::parse(fuzz::as_text(data, size));
    if (!uuid) {
        fuzz::require(!uuid.error().text().empty(), "a refusal has a text");
        return 0;
    }
    const std::string formatted = uuid->to_string();
    fuzz::require(formatted.size() == 36, "formatted UUIDs are 36 characters");
    for (std::size_t i = 0; i < formatted.size(); ++i) {
        const char c = formatted[i];
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        fuzz::require(hyphen ? c == '-' : (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'),
                      "formatted UUIDs are lowercase hex in 8-4-4-4-12 groups");
    }
    auto again = Uuid::parse(formatted);
    fuzz::require(again && *again == *uuid, "a formatted UUID parses to the same bytes");
    return 0;
}
