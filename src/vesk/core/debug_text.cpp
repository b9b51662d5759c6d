#include "vesk/core/debug_text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdio>

namespace vesk {
namespace {

bool needs_escape(UChar32 c) {
    if (c == ' ') return false;
    switch (u_charType(c)) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_SURROGATE:
        case U_PRIVATE_USE_CHAR:
        case U_UNASSIGNED:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
        case U_SPACE_SEPARATOR:
            return true;
        default:
            return u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND);
    }
}

}  // namespace

std::string debug_quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t i = 0;
    while (i < length) {
        const std::int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        switch (c) {
            case '"':
                out += "\\\"";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            case '\0':
                out += "\\0";
                continue;
            case '\t':
                out += "\\t";
                continue;
            case '\r':
                out += "\\r";
                continue;
            case '\n':
                out += "\\n";
                continue;
        }
        if (c < 0) c = 0xFFFD;  // not UTF-8: shown as the replacement character
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (needs_escape(c)) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u{%x}", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out.append(
                text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
        }
    }
    out += '"';
    return out;
}

std::string debug_list(std::span<const std::string> texts) {
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) out += ", ";
        out += debug_quote(texts[i]);
    }
    out += ']';
    return out;
}

}  // namespace vesk
