// The strict base64url decoder: what it accepts is exactly what the encoder writes.
#include <algorithm>

#include "fuzz.h"
#include "vesk/core/base64url.h"

void vesk::fuzz::check_input(std::string_view text) {
    auto decoded = b64u_decode(text);
    if (decoded) {
        require(b64u_encode(*decoded) == text, "decoded text re-encodes to itself");
    } else if (text.find('=') != std::string_view::npos) {
        require(decoded.error() == Base64Error::PaddingForbidden, "any '=' is padding");
    }
    // The input taken as bytes encodes to text that decodes back to them.
    const std::string encoded = b64u_encode(as_bytes(text));
    require(encoded.size() == (4 * text.size() + 2) / 3, "n bytes give ceil(4n/3) characters");
    auto round = b64u_decode(encoded);
    require(round && std::ranges::equal(*round, as_bytes(text)), "encoded bytes decode back");
}
