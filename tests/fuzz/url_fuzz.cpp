// The URL parser: whatever parses serialises to an href that parses to the same href.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "vesk/core/url.h"

using namespace vesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto url = parse_url(fuzz::as_text(data, size));
    if (!url) {
        fuzz::require(!url.error().text().empty(), "a refusal has a text");
        return 0;
    }
    const std::string href = url->href();
    auto again = parse_url(href);
    fuzz::require(again.has_value(), "an href parses");
    fuzz::require(again->href() == href, "an href re-parses to itself");
    fuzz::require(again->pathname() == url->pathname(), "the path survives re-parsing");
    fuzz::require(again->host == url->host && again->port == url->port,
                  "the host and port survive re-parsing");
    return 0;
}
