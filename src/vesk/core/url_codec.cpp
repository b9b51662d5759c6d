#include "vesk/core/url_codec.h"

#include "vesk/core/hex.h"
#include "vesk/core/utf8.h"

namespace vesk::url_detail {

std::u32string decode_utf8(std::string_view bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t value = 0, lower = 0x80, upper = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0F;
            if (lead == 0xE0) lower = 0xA0;
            if (lead == 0xED) upper = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
            if (lead == 0xF0) lower = 0x90;
            if (lead == 0xF4) upper = 0x8F;
        }
        // Consume the longest valid prefix; an ill-formed prefix yields one U+FFFD.
        std::size_t used = 1;
        bool complete = length != 0;
        for (; complete && used < length; ++used) {
            if (i + used >= bytes.size()) {
                complete = false;
                break;
            }
            auto next = static_cast<unsigned char>(bytes[i + used]);
            if (next < (used == 1 ? lower : 0x80) || next > (used == 1 ? upper : 0xBF)) {
                complete = false;
                break;
            }
            value = (value << 6) | (next & 0x3F);
        }
        out.push_back(complete ? value : U'\uFFFD');
        i += used;
    }
    return out;
}

namespace {

bool in_set(char32_t c, EncodeSet set) {
    if (c < 0x20 || c > 0x7E) return true;
    auto any_of = [c](std::u32string_view chars) { return chars.find(c) != chars.npos; };
    switch (set) {
        case EncodeSet::C0Control:
            return false;
        case EncodeSet::Fragment:
            return any_of(U" \"<>`");
        case EncodeSet::Query:
            return any_of(U" \"#<>");
        case EncodeSet::SpecialQuery:
            return any_of(U" \"#<>'");
        case EncodeSet::Path:
            return any_of(U" \"#<>?^`{}");
        case EncodeSet::Userinfo:
            return any_of(U" \"#<>?^`{}/:;=@[\\]|");
    }
    return true;
}

}  // namespace

void append_encoded(std::string& out, char32_t c, EncodeSet set) {
    if (!in_set(c, set)) {
        out.push_back(static_cast<char>(c));
        return;
    }
    std::string bytes;
    append_utf8(bytes, c);
    static constexpr char hex[] = "0123456789ABCDEF";
    for (unsigned char byte : bytes) {
        out.push_back('%');
        out.push_back(hex[byte >> 4]);
        out.push_back(hex[byte & 0x0F]);
    }
}

std::string percent_decode(std::string_view input) {
    std::string out;
    out.reserve(input.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (input[i] == '%' && i + 2 < input.size() && is_ascii_hex_digit(input[i + 1]) &&
            is_ascii_hex_digit(input[i + 2])) {
            out.push_back(
                static_cast<char>(hex_value(input[i + 1]) * 16 + hex_value(input[i + 2])));
            i += 2;
        } else {
            out.push_back(input[i]);
        }
    }
    return out;
}

}  // namespace vesk::url_detail
