#include "vesk/core/json_reader.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include "vesk/core/hex.h"
#include "vesk/core/keyed_hash.h"
#include "vesk/core/utf8.h"

namespace vesk::json {
namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Objects with many members find repeated names through a hash index.
constexpr std::size_t kIndexFrom = 16;

// Where each member name of an object sits: open addressing over member positions under the
// keyed hash, at most half full.
class NameIndex {
  public:
    // The slot for `name`: the position + 1 of the member holding it, or 0 where a member of
    // that name is to be recorded. Valid until the next call.
    std::size_t& slot(const Object& members, std::string_view name) {
        if (2 * (members.size() + 1) > slots_.size()) rebuild(members);
        const std::size_t mask = slots_.size() - 1;
        const std::size_t start = KeyedHash{}(name)&mask;
        for (std::size_t i = start;; i = (i + 1) & mask) {
            std::size_t& at = slots_[i];
            if (at == 0 || members[at - 1].first == name) return at;
        }
    }

  private:
    void rebuild(const Object& members) {
        slots_.assign(std::bit_ceil(2 * (members.size() + 1)), 0);
        for (std::size_t i = 0; i < members.size(); ++i) slot(members, members[i].first) = i + 1;
    }

    std::vector<std::size_t> slots_;
};

}  // namespace

Error TextReader::positioned(std::string message, std::size_t offset) const {
    std::size_t line = 1, line_start = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (in_[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    return {std::move(message), line, offset - line_start};
}

Error TextReader::fix(Error e) const {
    if (e.has_position()) return e;
    Error at = error({});
    e.line = at.line;
    e.column = at.column;
    return e;
}

std::optional<char> TextReader::peek_ws() {
    while (pos_ < in_.size()) {
        char c = in_[pos_];
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return c;
        ++pos_;
    }
    return std::nullopt;
}

Result<void> TextReader::enter() {
    if (--remaining_depth_ == 0) return std::unexpected(peek_error("recursion limit exceeded"));
    return {};
}

Result<void> TextReader::end_array() {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing a list"));
    if (*c == ']') {
        ++pos_;
        return {};
    }
    if (*c == ',') {
        ++pos_;
        if (peek_ws() == ']') return std::unexpected(peek_error("trailing comma"));
    }
    return std::unexpected(peek_error("trailing characters"));
}

Result<void> TextReader::end_object() {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing an object"));
    if (*c == '}') {
        ++pos_;
        return {};
    }
    if (*c == ',') return std::unexpected(peek_error("trailing comma"));
    return std::unexpected(peek_error("trailing characters"));
}

Result<void> TextReader::finish() {
    if (peek_ws()) return std::unexpected(peek_error("trailing characters"));
    return {};
}

Result<bool> TextReader::next_element(bool& first) {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing a list"));
    if (*c == ']') return false;
    if (first) {
        first = false;
        return true;
    }
    if (*c != ',') return std::unexpected(peek_error("expected `,` or `]`"));
    ++pos_;
    auto next = peek_ws();
    if (!next) return std::unexpected(peek_error("EOF while parsing a value"));
    if (*next == ']') return std::unexpected(peek_error("trailing comma"));
    return true;
}

Result<bool> TextReader::next_key(bool& first, std::string& key) {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing an object"));
    if (*c == '}') return false;
    if (first) {
        first = false;
        if (*c != '"') return std::unexpected(peek_error("key must be a string"));
    } else {
        if (*c != ',') return std::unexpected(peek_error("expected `,` or `}`"));
        ++pos_;
        auto next = peek_ws();
        if (!next) return std::unexpected(peek_error("EOF while parsing a value"));
        if (*next == '}') return std::unexpected(peek_error("trailing comma"));
        if (*next != '"') return std::unexpected(peek_error("key must be a string"));
    }
    ++pos_;
    key.clear();
    if (auto r = parse_string(key); !r) return std::unexpected(r.error());
    return true;
}

Result<void> TextReader::colon() {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing an object"));
    if (*c != ':') return std::unexpected(peek_error("expected `:`"));
    ++pos_;
    return {};
}

Result<void> TextReader::parse_ident(std::string_view rest) {
    for (char expected : rest) {
        if (pos_ >= in_.size()) return std::unexpected(error("EOF while parsing a value"));
        if (in_[pos_++] != expected) return std::unexpected(error("expected ident"));
    }
    return {};
}

Result<unsigned> TextReader::parse_hex4() {
    if (in_.size() - pos_ < 4) {
        pos_ = in_.size();
        return std::unexpected(error("EOF while parsing a string"));
    }
    unsigned v = 0;
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
        int h = hex_value(in_[pos_ + k]);
        ok = ok && h >= 0;
        v = (v << 4) | static_cast<unsigned>(h & 0xF);
    }
    pos_ += 4;
    if (!ok) return std::unexpected(error("invalid escape"));
    return v;
}

Result<void> TextReader::parse_escape(std::string& out) {
    if (pos_ >= in_.size()) return std::unexpected(error("EOF while parsing a string"));
    char c = in_[pos_++];
    switch (c) {
        case '"':
            out.push_back('"');
            return {};
        case '\\':
            out.push_back('\\');
            return {};
        case '/':
            out.push_back('/');
            return {};
        case 'b':
            out.push_back('\b');
            return {};
        case 'f':
            out.push_back('\f');
            return {};
        case 'n':
            out.push_back('\n');
            return {};
        case 'r':
            out.push_back('\r');
            return {};
        case 't':
            out.push_back('\t');
            return {};
        case 'u':
            break;
        default:
            return std::unexpected(error("invalid escape"));
    }
    auto n = parse_hex4();
    if (!n) return std::unexpected(n.error());
    if (*n >= 0xDC00 && *n <= 0xDFFF) {
        return std::unexpected(error("lone leading surrogate in hex escape"));
    }
    if (*n < 0xD800 || *n > 0xDBFF) {
        append_utf8(out, *n);
        return {};
    }
    for (char expected : {'\\', 'u'}) {
        if (pos_ >= in_.size()) return std::unexpected(error("EOF while parsing a string"));
        if (in_[pos_++] != expected) {
            return std::unexpected(error("unexpected end of hex escape"));
        }
    }
    auto low = parse_hex4();
    if (!low) return std::unexpected(low.error());
    if (*low < 0xDC00 || *low > 0xDFFF) {
        return std::unexpected(error("lone leading surrogate in hex escape"));
    }
    append_utf8(out, 0x10000 + ((*n - 0xD800) << 10) + (*low - 0xDC00));
    return {};
}

Result<void> TextReader::parse_string(std::string& out) {
    std::size_t start = pos_;
    std::size_t first_out = out.size();
    for (;;) {
        while (pos_ < in_.size()) {
            auto c = static_cast<unsigned char>(in_[pos_]);
            if (c == '"' || c == '\\' || c < 0x20) break;
            ++pos_;
        }
        if (pos_ >= in_.size()) return std::unexpected(error("EOF while parsing a string"));
        char c = in_[pos_];
        out.append(in_, start, pos_ - start);
        ++pos_;
        if (c == '"') break;
        if (c != '\\') {
            return std::unexpected(
                error("control character (\\u0000-\\u001F) found while parsing a string"));
        }
        if (auto r = parse_escape(out); !r) return r;
        start = pos_;
    }
    if (!valid_utf8(std::string_view(out).substr(first_out))) {
        return std::unexpected(error("invalid unicode code point"));
    }
    return {};
}

Result<Value> TextReader::parse_number(bool positive) {
    const std::size_t start = positive ? pos_ : pos_ - 1;
    if (pos_ >= in_.size()) return std::unexpected(error("EOF while parsing a value"));
    char first = in_[pos_++];
    std::uint64_t significand = 0;
    bool nonzero = false;
    bool integral = true;
    if (first == '0') {
        if (peek() && is_digit(*peek())) return std::unexpected(peek_error("invalid number"));
    } else if (is_digit(first)) {
        significand = static_cast<std::uint64_t>(first - '0');
        nonzero = true;
        while (peek() && is_digit(*peek())) {
            auto digit = static_cast<std::uint64_t>(*peek() - '0');
            if (significand > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
                integral = false;  // too long for 64 bits: read as a double
            } else if (integral) {
                significand = significand * 10 + digit;
            }
            ++pos_;
        }
    } else {
        return std::unexpected(error("invalid number"));
    }
    if (peek() == '.') {
        integral = false;
        ++pos_;
        if (!peek()) return std::unexpected(peek_error("EOF while parsing a value"));
        if (!is_digit(*peek())) return std::unexpected(peek_error("invalid number"));
        while (peek() && is_digit(*peek())) nonzero = nonzero || *peek() != '0', ++pos_;
    }
    bool exponent_overflow = false;
    bool negative_exponent = false;
    long long exponent = 0;  // the written exponent only
    if (peek() == 'e' || peek() == 'E') {
        integral = false;
        ++pos_;
        if (peek() == '+' || peek() == '-') negative_exponent = in_[pos_++] == '-';
        if (pos_ >= in_.size()) return std::unexpected(error("EOF while parsing a value"));
        char d = in_[pos_++];
        if (!is_digit(d)) return std::unexpected(error("invalid number"));
        exponent = d - '0';
        while (peek() && is_digit(*peek())) {
            int digit = *peek() - '0';
            ++pos_;
            if (!exponent_overflow && exponent * 10 + digit > std::numeric_limits<int>::max()) {
                if (nonzero && !negative_exponent) {
                    return std::unexpected(error("number out of range"));
                }
                exponent_overflow = true;
            }
            if (!exponent_overflow) exponent = exponent * 10 + digit;
        }
    }
    if (integral) {
        if (positive) return Value(significand);
        if (significand == 0) return Value(-0.0);
        if (significand <= std::uint64_t{1} << 63) {
            return Value(static_cast<std::int64_t>(0 - significand));
        }
        return Value(-static_cast<double>(significand));
    }
    if (exponent_overflow || !nonzero) return Value(positive ? 0.0 : -0.0);
    double d = 0;
    auto [ptr, ec] = std::from_chars(in_.data() + start, in_.data() + pos_, d);
    if (ec == std::errc::result_out_of_range) {
        // Either side of the double range: too small reads as zero, too large fails.
        // The number may end the text: nothing past pos_ is looked at.
        auto at = [&](std::size_t k) { return k < pos_ ? in_[k] : '\0'; };
        std::size_t i = positive ? start : start + 1;
        long long magnitude = 0;
        while (at(i) == '0') ++i;
        if (is_digit(at(i))) {
            while (is_digit(at(i))) ++magnitude, ++i;
        } else {
            ++i;  // the decimal point
            while (at(i) == '0') --magnitude, ++i;
        }
        magnitude += negative_exponent ? -exponent : exponent;
        if (magnitude <= 0) return Value(positive ? 0.0 : -0.0);
        return std::unexpected(error("number out of range"));
    }
    if (ec != std::errc() || ptr != in_.data() + pos_)
        return std::unexpected(error("invalid number"));
    if (std::isinf(d)) return std::unexpected(error("number out of range"));
    return Value(d);
}

Result<void> TextReader::parse_array_body(Array& out, bool reject_duplicates) {
    bool first = true;
    for (;;) {
        auto more = next_element(first);
        if (!more) return std::unexpected(more.error());
        if (!*more) {
            out.shrink_to_fit();
            return {};
        }
        if (auto r = parse_any(out.push_back(Value()), reject_duplicates); !r) return r;
    }
}

Result<void> TextReader::parse_object_body(Object& out, bool reject_duplicates) {
    bool first = true;
    std::string key;
    NameIndex index;
    for (;;) {
        auto more = next_key(first, key);
        if (!more) return std::unexpected(more.error());
        if (!*more) {
            out.shrink_to_fit();
            return {};
        }
        Value* existing = nullptr;
        std::size_t* slot = nullptr;
        if (out.size() < kIndexFrom) {
            existing = out.find(key);
        } else {
            slot = &index.slot(out, key);
            if (*slot) existing = &out[*slot - 1].second;
        }
        if (existing && reject_duplicates) return std::unexpected(duplicate_field(key));
        if (auto r = colon(); !r) return r;
        if (!existing) {
            existing = &out.append_new(key, Value());
            if (slot) *slot = out.size();
        }
        if (auto r = parse_any(*existing, reject_duplicates); !r) return r;
    }
}

Result<void> TextReader::parse_any(Value& out, bool reject_duplicates) {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing a value"));
    switch (*c) {
        case 'n':
            ++pos_;
            if (auto r = parse_ident("ull"); !r) return r;
            out = nullptr;
            return {};
        case 't':
        case 'f': {
            ++pos_;
            if (auto r = parse_ident(*c == 't' ? "rue" : "alse"); !r) return r;
            out = *c == 't';
            return {};
        }
        case '"': {
            ++pos_;
            scratch_.clear();
            if (auto r = parse_string(scratch_); !r) return r;
            out = Value(std::string_view(scratch_));
            return {};
        }
        case '[': {
            Array a;
            auto r = container('[', [&] { return parse_array_body(a, reject_duplicates); });
            if (!r) return r;
            out = std::move(a);
            return {};
        }
        case '{': {
            Object o;
            auto r = container('{', [&] { return parse_object_body(o, reject_duplicates); });
            if (!r) return r;
            out = std::move(o);
            return {};
        }
        default: {
            if (*c != '-' && !is_digit(*c)) return std::unexpected(peek_error("expected value"));
            if (*c == '-') ++pos_;
            auto n = parse_number(*c != '-');
            if (!n) return std::unexpected(n.error());
            out = std::move(*n);
            return {};
        }
    }
}

Result<Value> TextReader::read_value(bool reject_duplicates) {
    Value v;
    if (auto r = parse_any(v, reject_duplicates); !r) return std::unexpected(r.error());
    return v;
}

Error TextReader::invalid_type_here(std::string_view expected) {
    auto c = peek();
    if (!c) return peek_error("expected value");
    std::string found;
    switch (*c) {
        case 'n':
        case 't':
        case 'f': {
            ++pos_;
            auto r = parse_ident(*c == 'n' ? "ull" : *c == 't' ? "rue" : "alse");
            if (!r) return r.error();
            found = *c == 'n' ? "null" : *c == 't' ? "boolean `true`" : "boolean `false`";
            break;
        }
        case '"': {
            ++pos_;
            scratch_.clear();
            if (auto r = parse_string(scratch_); !r) return r.error();
            found = describe_string(scratch_);
            break;
        }
        case '[':
            found = kDescribeArray;
            break;
        case '{':
            found = kDescribeObject;
            break;
        default: {
            if (*c != '-' && !is_digit(*c)) return peek_error("expected value");
            if (*c == '-') ++pos_;
            auto n = parse_number(*c != '-');
            if (!n) return n.error();
            found = describe(*n);
            break;
        }
    }
    return fix(invalid_type(found, expected));
}

Result<std::string> TextReader::read_string(std::string_view expected) {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing a value"));
    if (*c != '"') return std::unexpected(invalid_type_here(expected));
    ++pos_;
    std::string out;
    if (auto r = parse_string(out); !r) return std::unexpected(r.error());
    return out;
}

Result<Value> TextReader::read_number(std::string_view expected) {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing a value"));
    if (*c != '-' && !is_digit(*c)) return std::unexpected(invalid_type_here(expected));
    if (*c == '-') ++pos_;
    return parse_number(*c != '-');
}

Result<bool> TextReader::read_null() {
    if (peek_ws() != 'n') return false;
    ++pos_;
    if (auto r = parse_ident("ull"); !r) return std::unexpected(r.error());
    return true;
}

Result<std::size_t> TextReader::read_variant(std::span<const std::string_view> names) {
    auto lookup = [&](std::string_view name) -> Result<std::size_t> {
        auto it = std::find(names.begin(), names.end(), name);
        if (it == names.end()) return std::unexpected(error(unknown_variant(name, names).message));
        return static_cast<std::size_t>(it - names.begin());
    };
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing a value"));
    if (*c == '"') {
        ++pos_;
        scratch_.clear();
        if (auto r = parse_string(scratch_); !r) return std::unexpected(r.error());
        return lookup(scratch_);
    }
    if (*c != '{') return std::unexpected(peek_error("expected value"));
    // The object form {"name": null}.
    if (auto r = enter(); !r) return std::unexpected(r.error());
    ++pos_;
    auto k = peek_ws();
    if (!k) return std::unexpected(peek_error("EOF while parsing a value"));
    if (*k == '}') return std::unexpected(peek_error("expected value"));
    if (*k != '"') return std::unexpected(peek_error("key must be a string"));
    ++pos_;
    scratch_.clear();
    if (auto r = parse_string(scratch_); !r) return std::unexpected(r.error());
    auto index = lookup(scratch_);
    if (!index) return index;
    if (auto r = colon(); !r) return std::unexpected(r.error());
    auto v = peek_ws();
    if (!v) return std::unexpected(peek_error("EOF while parsing a value"));
    if (*v != 'n') return std::unexpected(invalid_type_here("unit"));
    ++pos_;
    if (auto r = parse_ident("ull"); !r) return std::unexpected(r.error());
    ++remaining_depth_;
    auto close = peek_ws();
    if (!close) return std::unexpected(error("EOF while parsing an object"));
    if (*close != '}') return std::unexpected(error("expected value"));
    ++pos_;
    return index;
}

Result<Value> parse(std::string_view text) {
    TextReader reader(text);
    auto value = reader.read_value();
    if (!value) return value;
    if (auto r = reader.finish(); !r) return std::unexpected(r.error());
    return value;
}

}  // namespace vesk::json
