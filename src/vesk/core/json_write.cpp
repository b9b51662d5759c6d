#include "vesk/core/json_write.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "vesk/core/utf8.h"

namespace vesk::json {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void write_number(std::string& out, std::uint64_t n) {
    char buf[24];
    auto end = std::to_chars(buf, buf + sizeof buf, n).ptr;
    out.append(buf, end);
}

void write_number(std::string& out, std::int64_t n) {
    char buf[24];
    auto end = std::to_chars(buf, buf + sizeof buf, n).ptr;
    out.append(buf, end);
}

bool in(char32_t c, char32_t lo, char32_t hi) {
    return c >= lo && c <= hi;
}

// Characters a debug rendering shows as \u{..}: controls, separators, format characters,
// private use, noncharacters and the common combining marks.
bool shown_escaped(char32_t c) {
    return c < 0x20 || in(c, 0x7F, 0xA0) || c == 0xAD || in(c, 0x300, 0x36F) ||
           in(c, 0x600, 0x605) || c == 0x61C || c == 0x6DD || c == 0x70F || c == 0x1680 ||
           c == 0x180E || in(c, 0x1AB0, 0x1AFF) || in(c, 0x1DC0, 0x1DFF) || in(c, 0x2000, 0x200F) ||
           in(c, 0x2028, 0x202F) || in(c, 0x205F, 0x2064) || in(c, 0x2066, 0x206F) ||
           in(c, 0x20D0, 0x20FF) || c == 0x3000 || in(c, 0xE000, 0xF8FF) || in(c, 0xFE00, 0xFE0F) ||
           in(c, 0xFE20, 0xFE2F) || c == 0xFEFF || in(c, 0xFFF9, 0xFFFB) ||
           (c & 0xFFFE) == 0xFFFE || in(c, 0x1F3FB, 0x1F3FF) || in(c, 0xE0000, 0xE01EF) ||
           c >= 0xF0000;
}

struct Decimal {
    std::string digits;  // shortest round-trip digits, no leading zeros
    int exponent;        // value = d1.d2d3... * 10^exponent
};

Decimal shortest(double d) {
    char buf[64];
    auto end =
        std::to_chars(buf, buf + sizeof buf, std::fabs(d), std::chars_format::scientific).ptr;
    std::string_view text(buf, static_cast<std::size_t>(end - buf));
    auto e = text.find('e');
    Decimal out;
    for (char c : text.substr(0, e)) {
        if (c != '.') out.digits.push_back(c);
    }
    out.exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
    return out;
}

}  // namespace

std::string format_double(double d) {
    std::string out;
    if (std::signbit(d)) out.push_back('-');
    if (d == 0) {
        out += "0.0";
        return out;
    }
    auto [digits, e] = shortest(d);
    int k = static_cast<int>(digits.size());
    if (e >= -5 && e <= 15) {
        if (e < 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-e - 1), '0');
            out += digits;
        } else if (k <= e + 1) {
            out += digits;
            out.append(static_cast<std::size_t>(e + 1 - k), '0');
            out += ".0";
        } else {
            out.append(digits, 0, static_cast<std::size_t>(e + 1));
            out.push_back('.');
            out.append(digits, static_cast<std::size_t>(e + 1));
        }
        return out;
    }
    out.push_back(digits[0]);
    if (k > 1) {
        out.push_back('.');
        out.append(digits, 1);
    }
    out += e < 0 ? "e-" : "e+";
    out += std::to_string(std::abs(e));
    return out;
}

void append_quoted(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text, start, i - start);
        start = i + 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case 0x08:
                out += "\\b";
                break;
            case 0x09:
                out += "\\t";
                break;
            case 0x0A:
                out += "\\n";
                break;
            case 0x0C:
                out += "\\f";
                break;
            case 0x0D:
                out += "\\r";
                break;
            default:
                out += "\\u00";
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 0xF]);
        }
    }
    out.append(text, start);
    out.push_back('"');
}

void write_compact(std::string& out, const Value& value) {
    switch (value.kind()) {
        case Kind::Null:
            out += "null";
            return;
        case Kind::Bool:
            out += *value.as_bool() ? "true" : "false";
            return;
        case Kind::Unsigned:
            write_number(out, *value.as_unsigned());
            return;
        case Kind::Negative:
            write_number(out, *value.as_negative());
            return;
        case Kind::Double: {
            const double d = *value.as_double();
            out += std::isfinite(d) ? format_double(d) : "null";
            return;
        }
        case Kind::String:
            append_quoted(out, *value.as_string());
            return;
        case Kind::Array: {
            out.push_back('[');
            const char* separator = "";
            for (const Value& element : *value.as_array()) {
                out += separator;
                separator = ",";
                write_compact(out, element);
            }
            out.push_back(']');
            return;
        }
        case Kind::Object: {
            out.push_back('{');
            const char* separator = "";
            for (const auto& [name, member] : *value.as_object()) {
                out += separator;
                separator = ",";
                append_quoted(out, name);
                out.push_back(':');
                write_compact(out, member);
            }
            out.push_back('}');
            return;
        }
    }
}

std::string write_compact(const Value& value) {
    std::string out;
    write_compact(out, value);
    return out;
}

std::string debug_quote(std::string_view text) {
    std::string out = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t start = i;
        char32_t c = next_code_point(text, i);
        switch (c) {
            case '"':
                out += "\\\"";
                continue;
            case '\\':
                out += "\\\\";
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
            case 0:
                out += "\\0";
                continue;
            default:
                break;
        }
        if (shown_escaped(c)) {
            char buf[16];
            auto end = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint32_t>(c), 16).ptr;
            out += "\\u{";
            out.append(buf, end);
            out.push_back('}');
        } else {
            out.append(text, start, i - start);
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace vesk::json
