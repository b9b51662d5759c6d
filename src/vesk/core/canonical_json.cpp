#include "vesk/core/canonical_json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "vesk/core/json_write.h"
#include "vesk/core/utf8.h"

namespace vesk {
namespace {

// A code point's place in UTF-16 order: those from U+E000 to U+FFFF come after the ones that
// take a surrogate pair, whose leading unit is below U+E000.
char32_t utf16_rank(char32_t cp) {
    return cp >= 0xE000 && cp <= 0xFFFF ? cp + 0x200000 : cp;
}

std::expected<void, CanonicalJsonError> write_number(std::string& out, double d) {
    if (!std::isfinite(d))
        return std::unexpected(CanonicalJsonError{CanonicalJsonError::Kind::NonFiniteNumber, {}});
    out += es_number(d);
    return {};
}

std::expected<void, CanonicalJsonError> write_object(std::string& out, const json::Object& object) {
    std::vector<const json::Object::Member*> order;
    order.reserve(object.size());
    for (const auto& member : object) order.push_back(&member);
    std::sort(order.begin(), order.end(),
              [](const auto* a, const auto* b) { return utf16_less(a->first, b->first); });
    out.push_back('{');
    for (std::size_t k = 0; k < order.size(); ++k) {
        const auto& [name, member] = *order[k];
        if (k > 0) {
            if (name == order[k - 1]->first) {
                return std::unexpected(
                    CanonicalJsonError{CanonicalJsonError::Kind::DuplicateKey, std::string(name)});
            }
            out.push_back(',');
        }
        json::append_quoted(out, name);
        out.push_back(':');
        if (auto r = append_canonical(out, member); !r) return r;
    }
    out.push_back('}');
    return {};
}

}  // namespace

std::expected<void, CanonicalJsonError> append_canonical(std::string& out,
                                                         const json::Value& value) {
    switch (value.kind()) {
        case json::Kind::Null:
            out += "null";
            return {};
        case json::Kind::Bool:
            out += *value.as_bool() ? "true" : "false";
            return {};
        case json::Kind::Unsigned:
            return write_number(out, static_cast<double>(*value.as_unsigned()));
        case json::Kind::Negative:
            return write_number(out, static_cast<double>(*value.as_negative()));
        case json::Kind::Double:
            return write_number(out, *value.as_double());
        case json::Kind::String:
            json::append_quoted(out, *value.as_string());
            return {};
        case json::Kind::Array: {
            out.push_back('[');
            bool first = true;
            for (const auto& element : *value.as_array()) {
                if (!first) out.push_back(',');
                first = false;
                if (auto r = append_canonical(out, element); !r) return r;
            }
            out.push_back(']');
            return {};
        }
        case json::Kind::Object:
            return write_object(out, *value.as_object());
    }
    return {};
}

bool utf16_less(std::string_view a, std::string_view b) {
    std::size_t i = static_cast<std::size_t>(std::ranges::mismatch(a, b).in1 - a.begin());
    if (i == a.size() || i == b.size()) return i < b.size();
    // The first differing code point starts at the same place in both.
    while (i > 0 && (static_cast<unsigned char>(a[i]) & 0xC0) == 0x80) --i;
    std::size_t j = i;
    return utf16_rank(next_code_point(a, i)) < utf16_rank(next_code_point(b, j));
}

std::string CanonicalJsonError::text() const {
    switch (kind) {
        case Kind::NonFiniteNumber:
            return "number is not finite (NaN or Infinity is not permitted in JSON)";
        case Kind::DuplicateKey:
            return "duplicate key '" + detail + "' in JSON object";
        case Kind::Serialization:
            return "serialization failed: " + detail;
    }
    return {};
}

std::string es_number(double d) {
    if (d == 0) return "0";
    char buf[64];
    auto end =
        std::to_chars(buf, buf + sizeof buf, std::fabs(d), std::chars_format::scientific).ptr;
    std::string_view sci(buf, static_cast<std::size_t>(end - buf));
    auto e_at = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e_at)) {
        if (c != '.') digits.push_back(c);
    }
    int k = static_cast<int>(digits.size());
    int n = std::atoi(std::string(sci.substr(e_at + 1)).c_str()) + 1;  // point after n digits

    std::string out = d < 0 ? "-" : "";
    if (k <= n && n <= 21) {
        out += digits;
        out.append(static_cast<std::size_t>(n - k), '0');
    } else if (0 < n && n <= 21) {
        out.append(digits, 0, static_cast<std::size_t>(n));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(n));
    } else if (-6 < n && n <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-n), '0');
        out += digits;
    } else {
        out.push_back(digits[0]);
        if (k > 1) {
            out.push_back('.');
            out.append(digits, 1);
        }
        out += n - 1 < 0 ? "e-" : "e+";
        out += std::to_string(std::abs(n - 1));
    }
    return out;
}

std::expected<std::string, CanonicalJsonError> canonical_json(const json::Value& value) {
    std::string out;
    if (auto r = append_canonical(out, value); !r) return std::unexpected(r.error());
    return out;
}

}  // namespace vesk
