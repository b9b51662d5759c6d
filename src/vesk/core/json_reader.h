// Streaming reader over JSON text: the syntax rules, the nesting budget and the error
// positions every JSON reading of the system shares.
//
// Positions count bytes; only LF starts a line. An error found at a byte the reader has
// consumed points at that byte; one found at a byte merely looked at points there
// instead. Typed errors point at the last byte of the value they concern (the closing
// quote of a string or key, the last digit of a number, the closing bracket of a
// container, or the byte before an unexpected opening bracket).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "vesk/core/json_error.h"
#include "vesk/core/json_value.h"

namespace vesk::json {

inline constexpr int kDepthBudget = 128;

class TextReader {
  public:
    explicit TextReader(std::string_view text) : in_(text) {}

    // Any JSON value. With `reject_duplicates`, an object naming a member twice fails
    // with "duplicate field `x`"; otherwise the later value takes the first one's place.
    Result<Value> read_value(bool reject_duplicates = false);
    // After the top-level value only space, tab, LF and CR may follow.
    Result<void> finish();

    // Typed scalars; `expected` is the target's name in "invalid type" errors.
    Result<std::string> read_string(std::string_view expected);
    // A string handed to `parse` (returning std::expected<T, std::string>); a refusal
    // becomes the reading error, positioned at the closing quote.
    template <class Parse>
    auto read_parsed_string(std::string_view expected, Parse&& parse)
        -> Result<typename decltype(parse(std::string_view{}))::value_type>;
    // A number as the reader classifies it (unsigned, negative or double).
    Result<Value> read_number(std::string_view expected);
    // Consumes `null` and returns true, or returns false leaving other input untouched.
    Result<bool> read_null();
    // A unit variant by name: "name" or {"name": null}.
    Result<std::size_t> read_variant(std::span<const std::string_view> names);

    // Containers. `body` runs after the opening bracket; the reader then closes the
    // container (surplus elements fail with "trailing characters"/"trailing comma").
    template <class Body>
    Result<void> read_array(std::string_view expected, Body&& body);
    template <class Body>
    Result<void> read_object(std::string_view expected, Body&& body);
    // A record: `on_array` for the positional form, `on_object` for the object form.
    template <class OnArray, class OnObject>
    Result<void> read_record(std::string_view expected, OnArray&& on_array, OnObject&& on_object);

    // Inside a container body: whether another element / member follows. `first` starts
    // true for each container. next_key leaves the reader on the member's value.
    Result<bool> next_element(bool& first);
    Result<bool> next_key(bool& first, std::string& key);
    Result<void> colon();

    // An error positioned at the last consumed byte.
    Error error(std::string message) const { return positioned(std::move(message), pos_); }
    // Gives an error without a position the position of the last consumed byte.
    Error fix(Error e) const;

  private:
    Result<void> parse_any(Value& out, bool reject_duplicates);
    Result<void> parse_array_body(Array& out, bool reject_duplicates);
    Result<void> parse_object_body(Object& out, bool reject_duplicates);
    Result<void> parse_string(std::string& out);  // after the opening quote
    Result<void> parse_escape(std::string& out);
    Result<unsigned> parse_hex4();
    Result<Value> parse_number(bool positive);  // after an optional '-'
    Result<void> parse_ident(std::string_view rest);
    Error invalid_type_here(std::string_view expected);

    template <class Body>
    Result<void> container(char open, Body&& body);
    Result<void> enter();
    Result<void> end_array();
    Result<void> end_object();

    std::optional<char> peek() const {
        return pos_ < in_.size() ? std::optional<char>(in_[pos_]) : std::nullopt;
    }
    std::optional<char> peek_ws();
    Error peek_error(std::string message) const {
        return positioned(std::move(message), std::min(pos_ + 1, in_.size()));
    }
    Error positioned(std::string message, std::size_t offset) const;

    std::string_view in_;
    std::size_t pos_ = 0;
    int remaining_depth_ = kDepthBudget;
    std::string scratch_;
};

// One JSON text: a value with only whitespace around it.
Result<Value> parse(std::string_view text);
inline Result<Value> parse(std::span<const std::uint8_t> bytes) {
    return parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

template <class Parse>
auto TextReader::read_parsed_string(std::string_view expected, Parse&& parse)
    -> Result<typename decltype(parse(std::string_view{}))::value_type> {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing a value"));
    if (*c != '"') return std::unexpected(invalid_type_here(expected));
    ++pos_;
    scratch_.clear();
    if (auto r = parse_string(scratch_); !r) return std::unexpected(r.error());
    auto parsed = parse(std::string_view(scratch_));
    if (!parsed) return std::unexpected(error(std::move(parsed.error())));
    return std::move(*parsed);
}

template <class Body>
Result<void> TextReader::container(char open, Body&& body) {
    if (auto r = enter(); !r) return r;
    ++pos_;
    Result<void> inner = body();
    Result<void> closed = open == '[' ? end_array() : end_object();
    ++remaining_depth_;
    if (!inner) return std::unexpected(fix(std::move(inner.error())));
    return closed;
}

template <class Body>
Result<void> TextReader::read_array(std::string_view expected, Body&& body) {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing a value"));
    if (*c != '[') return std::unexpected(invalid_type_here(expected));
    return container('[', body);
}

template <class Body>
Result<void> TextReader::read_object(std::string_view expected, Body&& body) {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing a value"));
    if (*c != '{') return std::unexpected(invalid_type_here(expected));
    return container('{', body);
}

template <class OnArray, class OnObject>
Result<void> TextReader::read_record(std::string_view expected, OnArray&& on_array,
                                     OnObject&& on_object) {
    auto c = peek_ws();
    if (!c) return std::unexpected(peek_error("EOF while parsing a value"));
    if (*c == '[') return container('[', on_array);
    if (*c == '{') return container('{', on_object);
    return std::unexpected(invalid_type_here(expected));
}

}  // namespace vesk::json
