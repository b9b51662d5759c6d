// The strict base64url decoder: what it accepts is exactly what the encoder writes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_check.h"
#include "vesk/core/base64url.h"

using namespace vesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    auto decoded = b64u_decode(text);
    if (decoded) {
        fuzz::require(b64u_encode(*decoded) == text, "decoded text re-encodes to itself");
    } else if (text.find('=') != std::string_view::npos) {
        fuzz::require(decoded.error() == Base64Error::PaddingForbidden, "any '=' is padding");
    }
    // The input taken as bytes encodes to text that decodes back to them.
    const std::string encoded = b64u_encode(std::span(data, size));
    fuzz::require(encoded.size() == (4 * size + 2) / 3, "n bytes give ceil(4n/3) characters");
    auto round = b64u_decode(encoded);
    fuzz::require(round && std::ranges::equal(*round, std::span(data, size)),
                  "encoded bytes decode back");
    return 0;
}
