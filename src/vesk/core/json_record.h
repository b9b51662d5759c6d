// Strict typed JSON reading and writing of wire types, driven by one declaration per type.
//
// A wire type is a plain struct; next to it, in its own namespace, one constexpr function
// declares it. Everything else follows from that declaration: reading from JSON text
// (object or positional array form, positioned errors), reading from a parsed Value
// (no positions, surplus array elements refused; moving out of a Value passed as an rvalue),
// writing compact JSON, writing canonical JSON (RFC 8785), and converting to a Value.
//
//   struct Sender { std::string agent_id; };
//   constexpr auto describe_json(std::type_identity<Sender>) {
//       return json::record("struct Sender", json::member("agent_id", &Sender::agent_id));
//   }
//   auto sender = json::from_json<Sender>(text);    // Result<Sender>
//   std::string out = json::to_json(*sender);       // {"agent_id":"..."}
//   auto signed_bytes = json::to_canonical_json(*sender);  // expected<string, CanonicalJsonError>
//
// Members are listed in declaration order, which is the order of the written form, of the
// positional form and of the names in "unknown field" messages. A record struct without a
// default constructor is built by aggregate initialisation, so its declaration must then
// list all of its fields in the struct's own order. A std::optional member is
// optional: absent or null reads as nullopt, and nullopt is left out when writing; every
// other member is required. Member types: std::string, std::int64_t, std::uint64_t,
// std::vector<T>, std::optional<T>, Value (any JSON), Extensions (string-keyed map of any
// JSON kept sorted by key), other declared records, and:
//   - unit enums read by name (values 0..N-1 in declaration order):
//       constexpr auto describe_json(std::type_identity<Kind>) {
//           return json::variants<Kind>({"first", "second"});
//       }
//   - types parsed from a string, whose parse error text becomes the reading error:
//       constexpr auto describe_json(std::type_identity<Uuid>) {
//           return json::parsed_string<Uuid>("a formatted UUID string", parse, format);
//       }
//     with parse: std::expected<Uuid, std::string>(std::string_view) and
//          format: std::string(const Uuid&).
// A record declared with json::open_record instead reads leniently, as records of other systems
// are read: unknown members are skipped, and the positional form needs every member.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "vesk/core/canonical_json.h"
#include "vesk/core/json_error.h"
#include "vesk/core/json_reader.h"
#include "vesk/core/json_value.h"
#include "vesk/core/json_write.h"

namespace vesk::json {

using Extensions = std::map<std::string, Value>;

// ---- Declarations -------------------------------------------------------------------

template <class Owner, class T>
struct MemberDecl {
    using Type = T;
    std::string_view name;
    T Owner::*field;
};

constexpr bool is_ascii(std::string_view name) {
    return std::ranges::all_of(name, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

template <class Owner, class T>
constexpr MemberDecl<Owner, T> member(std::string_view name, T Owner::*field) {
    return {name, field};
}

template <class... Members>
struct RecordDecl {
    std::string_view expecting;
    std::tuple<Members...> members;
    bool open = false;
};

template <class... Members>
constexpr RecordDecl<Members...> record(std::string_view expecting, Members... members) {
    return {expecting, std::tuple<Members...>(members...)};
}

template <class... Members>
constexpr RecordDecl<Members...> open_record(std::string_view expecting, Members... members) {
    return {expecting, std::tuple<Members...>(members...), true};
}

template <class E, std::size_t N>
struct VariantsDecl {
    std::array<std::string_view, N> names;
};

template <class E, std::size_t N>
constexpr VariantsDecl<E, N> variants(const std::string_view (&names)[N]) {
    VariantsDecl<E, N> decl{};
    std::copy(names, names + N, decl.names.begin());
    return decl;
}

template <class T>
struct ParsedStringDecl {
    std::string_view expecting;
    std::expected<T, std::string> (*parse)(std::string_view);
    std::string (*format)(const T&);
};

template <class T>
constexpr ParsedStringDecl<T> parsed_string(
    std::string_view expecting, std::expected<T, std::string> (*parse)(std::string_view),
    std::string (*format)(const T&)) {
    return {expecting, parse, format};
}

// ---- Codecs: read from text or a Value, write, convert to a Value -------------------------

template <class T>
struct Codec;

// A Value to read from: `const Value&` copies out of it, `Value` (an rvalue) moves out of it.
template <class V>
concept ValueSource = std::same_as<std::remove_cvref_t<V>, Value>;

// A part of a value given as V&&: moved from when that value is an rvalue, else read as const.
template <class V, class Part>
constexpr decltype(auto) part_of(Part& part) {
    if constexpr (std::is_lvalue_reference_v<V>) {
        return static_cast<const Part&>(part);
    } else {
        static_assert(!std::is_const_v<Part>, "a value to move from is reached through const");
        return static_cast<Part&&>(part);
    }
}

// Compact: members in declaration or stored order. Canonical: RFC 8785, as canonical_json()
// writes a Value (members by UTF-16 code units, integers as their IEEE double).
enum class Form { Compact, Canonical };
using Written = std::expected<void, CanonicalJsonError>;

template <>
struct Codec<std::string> {
    static Result<std::string> read(TextReader& r) { return r.read_string("a string"); }
    static Result<std::string> read(const Value& v) {
        if (auto s = v.as_string()) return std::string(*s);
        return std::unexpected(invalid_type(describe(v), "a string"));
    }
    template <Form>
    static Written write(std::string& out, const std::string& s) {
        append_quoted(out, s);
        return {};
    }
    static Value to_value(const std::string& s) { return Value(s); }
};

// 64-bit integers: an integer of the other sign class that does not fit is an invalid
// value; doubles (fractions, exponents, -0, huge integers) are an invalid type.
template <class I>
requires std::is_same_v<I, std::int64_t> || std::is_same_v<I, std::uint64_t>
struct Codec<I> {
    static constexpr std::string_view expecting = std::is_signed_v<I> ? "i64" : "u64";

    static Result<I> convert(const Value& v) {
        if (auto u = v.as_unsigned()) {
            if (*u <= static_cast<std::uint64_t>(std::numeric_limits<I>::max())) {
                return static_cast<I>(*u);
            }
            return std::unexpected(invalid_value(describe(v), expecting));
        }
        if (auto n = v.as_negative()) {
            if constexpr (std::is_signed_v<I>) return *n;
            return std::unexpected(invalid_value(describe(v), expecting));
        }
        return std::unexpected(invalid_type(describe(v), expecting));
    }
    static Result<I> read(TextReader& r) {
        auto n = r.read_number(expecting);
        if (!n) return std::unexpected(n.error());
        auto i = convert(*n);
        if (!i) return std::unexpected(r.fix(std::move(i.error())));
        return i;
    }
    static Result<I> read(const Value& v) { return convert(v); }
    template <Form F>
    static Written write(std::string& out, I i) {
        if constexpr (F == Form::Canonical) {
            out += es_number(static_cast<double>(i));
        } else {
            write_compact(out, Value(i));
        }
        return {};
    }
    static Value to_value(I i) { return Value(i); }
};

template <>
struct Codec<Value> {
    static Result<Value> read(TextReader& r) { return r.read_value(); }
    template <ValueSource V>
    static Result<Value> read(V&& v) {
        return Value(std::forward<V>(v));
    }
    template <Form F>
    static Written write(std::string& out, const Value& v) {
        if constexpr (F == Form::Canonical) return append_canonical(out, v);
        write_compact(out, v);
        return {};
    }
    static Value to_value(const Value& v) { return v; }
};

template <class T>
struct Codec<std::optional<T>> {
    static Result<std::optional<T>> read(TextReader& r) {
        auto null = r.read_null();
        if (!null) return std::unexpected(null.error());
        if (*null) return std::nullopt;
        return Codec<T>::read(r);
    }
    template <ValueSource V>
    static Result<std::optional<T>> read(V&& v) {
        if (v.is_null()) return std::nullopt;
        return Codec<T>::read(std::forward<V>(v));
    }
};

template <class T>
struct Codec<std::vector<T>> {
    static constexpr std::string_view expecting = "a sequence";
    static Result<std::vector<T>> read(TextReader& r) {
        std::vector<T> out;
        auto body = [&]() -> Result<void> {
            bool first = true;
            for (;;) {
                auto more = r.next_element(first);
                if (!more) return std::unexpected(more.error());
                if (!*more) return {};
                auto element = Codec<T>::read(r);
                if (!element) return std::unexpected(element.error());
                out.push_back(std::move(*element));
            }
        };
        if (auto done = r.read_array(expecting, body); !done) return std::unexpected(done.error());
        return out;
    }
    template <ValueSource V>
    static Result<std::vector<T>> read(V&& v) {
        auto* array = v.as_array();
        if (!array) return std::unexpected(invalid_type(describe(v), expecting));
        std::vector<T> out;
        out.reserve(array->size());
        for (auto& element : *array) {
            auto e = Codec<T>::read(part_of<V>(element));
            if (!e) return std::unexpected(e.error());
            out.push_back(std::move(*e));
        }
        return out;
    }
    template <Form F>
    static Written write(std::string& out, const std::vector<T>& items) {
        out.push_back('[');
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0) out.push_back(',');
            if (auto w = Codec<T>::template write<F>(out, items[i]); !w) return w;
        }
        out.push_back(']');
        return {};
    }
    static Value to_value(const std::vector<T>& items) {
        Array out;
        out.reserve(items.size());
        for (const T& item : items) out.push_back(Codec<T>::to_value(item));
        return out;
    }
};

// A repeated key keeps the later value.
template <>
struct Codec<Extensions> {
    static constexpr std::string_view expecting = "a map";
    static Result<Extensions> read(TextReader& r) {
        Extensions out;
        auto body = [&]() -> Result<void> {
            bool first = true;
            std::string key;
            for (;;) {
                auto more = r.next_key(first, key);
                if (!more) return std::unexpected(more.error());
                if (!*more) return {};
                if (auto c = r.colon(); !c) return c;
                auto value = r.read_value();
                if (!value) return std::unexpected(value.error());
                out.insert_or_assign(key, std::move(*value));
            }
        };
        if (auto done = r.read_object(expecting, body); !done) return std::unexpected(done.error());
        return out;
    }
    template <ValueSource V>
    static Result<Extensions> read(V&& v) {
        auto* object = v.as_object();
        if (!object) return std::unexpected(invalid_type(describe(v), expecting));
        Extensions out;
        for (auto& [key, value] : *object) {
            out.insert_or_assign(std::string(key), Value(part_of<V>(value)));
        }
        return out;
    }
    // The map keeps its names in byte order; canonical order, by UTF-16 code units, differs
    // from it where names hold characters from U+E000 up.
    template <Form F>
    static Written write(std::string& out, const Extensions& map) {
        std::vector<const Extensions::value_type*> order;
        if constexpr (F == Form::Canonical) {
            order.reserve(map.size());
            for (const auto& entry : map) order.push_back(&entry);
            std::sort(order.begin(), order.end(),
                      [](const auto* a, const auto* b) { return utf16_less(a->first, b->first); });
        }
        out.push_back('{');
        std::size_t i = 0;
        for (const auto& entry : map) {
            const auto& [name, value] = F == Form::Canonical ? *order[i] : entry;
            if (i++ > 0) out.push_back(',');
            append_quoted(out, name);
            out.push_back(':');
            if (auto w = Codec<Value>::write<F>(out, value); !w) return w;
        }
        out.push_back('}');
        return {};
    }
    static Value to_value(const Extensions& map) {
        Object out;
        out.reserve(map.size());
        for (const auto& [key, value] : map) out.append_new(key, value);
        return out;
    }
};

// ---- Declared types ---------------------------------------------------------------------

template <class T>
concept Declared = requires {
    describe_json(std::type_identity<T>{});
};

template <Declared T>
inline constexpr auto declaration_of = describe_json(std::type_identity<T>{});

template <class D>
struct IsRecordDecl : std::false_type {};
template <class... M>
struct IsRecordDecl<RecordDecl<M...>> : std::true_type {};
template <class D>
struct IsVariantsDecl : std::false_type {};
template <class E, std::size_t N>
struct IsVariantsDecl<VariantsDecl<E, N>> : std::true_type {};
template <class D>
struct IsParsedStringDecl : std::false_type {};
template <class T>
struct IsParsedStringDecl<ParsedStringDecl<T>> : std::true_type {};

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <class Members>
struct StorageOf;
template <class... M>
struct StorageOf<std::tuple<M...>> {
    using type = std::tuple<std::optional<typename M::Type>...>;
};

template <class T, template <class> class Is>
concept DeclaredAs = Declared<T> && Is<std::remove_cvref_t<decltype(declaration_of<T>)>>::value;

template <DeclaredAs<IsRecordDecl> T>
struct Codec<T> {
    static constexpr auto& decl = declaration_of<T>;
    static constexpr std::size_t N = std::tuple_size_v<decltype(decl.members)>;
    static constexpr auto names = std::apply(
        [](const auto&... m) { return std::array<std::string_view, N>{m.name...}; }, decl.members);
    static constexpr auto optional = std::apply(
        [](const auto&... m) {
            return std::array<bool, N>{
                IsOptional<typename std::remove_cvref_t<decltype(m)>::Type>::value...};
        },
        decl.members);

    static std::size_t index_of(std::string_view name) {
        return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) -
                                        names.begin());
    }
    static Error too_short(std::size_t i) {
        return invalid_length(i, std::string(decl.expecting) + " with " + std::to_string(N) +
                                     (N == 1 ? " element" : " elements"));
    }
    static Result<void> check_missing(const std::array<bool, N>& seen) {
        for (std::size_t i = 0; i < N; ++i) {
            if (!seen[i] && !optional[i]) return std::unexpected(missing_field(names[i]));
        }
        return {};
    }

    // Members are read into storage first, so that member types need no default state.
    using Storage = typename StorageOf<std::remove_cvref_t<decltype(decl.members)>>::type;

    template <std::size_t I, class Source>
    static Result<void> read_member(Source&& source, Storage& out) {
        using M = std::remove_cvref_t<decltype(std::get<I>(decl.members))>;
        auto value = Codec<typename M::Type>::read(std::forward<Source>(source));
        if (!value) return std::unexpected(value.error());
        std::get<I>(out) = std::move(*value);
        return {};
    }
    // Reads member `index` from `source`, which only that member's reading consumes.
    template <class Source, std::size_t... I>
    static Result<void> read_member_at(std::size_t index, Source&& source, Storage& out,
                                       std::index_sequence<I...>) {
        Result<void> result;
        (void)((index == I && (result = read_member<I>(std::forward<Source>(source), out), true)) ||
               ...);
        return result;
    }
    // Absent members are optional ones (the reader checked the required ones).
    template <std::size_t I>
    static auto take(Storage& s) {
        using F = typename std::remove_cvref_t<decltype(std::get<I>(decl.members))>::Type;
        if constexpr (IsOptional<F>::value) {
            return std::get<I>(s) ? std::move(*std::get<I>(s)) : F{};
        } else {
            return F(std::move(*std::get<I>(s)));
        }
    }
    static T build(Storage& s) {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            if constexpr (std::is_default_constructible_v<T>) {
                T out{};
                ((out.*(std::get<I>(decl.members).field) = take<I>(s)), ...);
                return out;
            } else {
                return T{take<I>(s)...};
            }
        }
        (std::make_index_sequence<N>{});
    }

    static Result<T> read(TextReader& r) {
        Storage out;
        auto on_object = [&]() -> Result<void> {
            std::array<bool, N> seen{};
            bool first = true;
            std::string key;
            for (;;) {
                auto more = r.next_key(first, key);
                if (!more) return std::unexpected(more.error());
                if (!*more) return check_missing(seen);
                std::size_t i = index_of(key);
                if (i == N && !decl.open) return std::unexpected(unknown_field(key, names));
                if (i < N && seen[i]) return std::unexpected(duplicate_field(key));
                if (auto c = r.colon(); !c) return c;
                if (i == N) {
                    if (auto skipped = r.read_value(); !skipped) {
                        return std::unexpected(skipped.error());
                    }
                    continue;
                }
                seen[i] = true;
                auto done = read_member_at(i, r, out, std::make_index_sequence<N>{});
                if (!done) return done;
            }
        };
        auto on_array = [&]() -> Result<void> {
            bool first = true, ended = false;
            for (std::size_t i = 0; i < N; ++i) {
                if (!ended) {
                    auto more = r.next_element(first);
                    if (!more) return std::unexpected(more.error());
                    ended = !*more;
                }
                if (ended) {
                    if (!optional[i] || decl.open) return std::unexpected(too_short(i));
                    continue;
                }
                auto done = read_member_at(i, r, out, std::make_index_sequence<N>{});
                if (!done) return done;
            }
            return {};
        };
        if (auto done = r.read_record(decl.expecting, on_array, on_object); !done) {
            return std::unexpected(done.error());
        }
        return build(out);
    }

    template <ValueSource V>
    static Result<T> read(V&& v) {
        Storage out;
        if (auto* object = v.as_object()) {
            std::array<bool, N> seen{};
            for (auto& [key, member_value] : *object) {
                std::size_t i = index_of(key);
                if (i == N && decl.open) continue;
                if (i == N) return std::unexpected(unknown_field(key, names));
                seen[i] = true;
                auto done =
                    read_member_at(i, part_of<V>(member_value), out, std::make_index_sequence<N>{});
                if (!done) return std::unexpected(done.error());
            }
            if (auto done = check_missing(seen); !done) return std::unexpected(done.error());
            return build(out);
        }
        if (auto* array = v.as_array()) {
            for (std::size_t i = 0; i < N; ++i) {
                if (i >= array->size()) {
                    if (!optional[i] || decl.open) return std::unexpected(too_short(i));
                    continue;
                }
                auto done =
                    read_member_at(i, part_of<V>((*array)[i]), out, std::make_index_sequence<N>{});
                if (!done) return std::unexpected(done.error());
            }
            if (array->size() > N) {
                return std::unexpected(invalid_length(array->size(), "fewer elements in array"));
            }
            return build(out);
        }
        return std::unexpected(invalid_type(describe(v), decl.expecting));
    }

    static constexpr auto declaration_order = [] {
        std::array<std::size_t, N> order{};
        for (std::size_t i = 0; i < N; ++i) order[i] = i;
        return order;
    }();
    // Names are ASCII, whose byte order is their UTF-16 order.
    static_assert(std::ranges::all_of(names, is_ascii), "member names must be ASCII");
    static constexpr auto canonical_order = [] {
        auto order = declaration_order;
        std::sort(order.begin(), order.end(),
                  [](std::size_t a, std::size_t b) { return names[a] < names[b]; });
        return order;
    }();

    // Writes member I unless it is an absent optional or is named `left_out`.
    template <Form F, std::size_t I>
    static Written write_member(std::string& out, const T& x, bool& first,
                                std::string_view left_out) {
        const auto& m = std::get<I>(decl.members);
        const auto& field = x.*(m.field);
        using Field = std::remove_cvref_t<decltype(field)>;
        if constexpr (IsOptional<Field>::value) {
            if (!field) return {};
        }
        if (m.name == left_out) return {};
        if (!first) out.push_back(',');
        first = false;
        append_quoted(out, m.name);
        out.push_back(':');
        if constexpr (IsOptional<Field>::value) {
            return Codec<typename Field::value_type>::template write<F>(out, *field);
        } else {
            return Codec<Field>::template write<F>(out, field);
        }
    }
    template <Form F>
    static Written write(std::string& out, const T& x, std::string_view left_out = {}) {
        out.push_back('{');
        bool first = true;
        Written written;
        [&]<std::size_t... K>(std::index_sequence<K...>) {
            constexpr const auto& order =
                F == Form::Canonical ? canonical_order : declaration_order;
            (void)((written = write_member<F, order[K]>(out, x, first, left_out)) && ...);
        }
        (std::make_index_sequence<N>{});
        if (written) out.push_back('}');
        return written;
    }

    static Value to_value(const T& x) {
        Object out;
        out.reserve(N);
        std::apply(
            [&](const auto&... m) {
                auto add = [&](const auto& m1) {
                    const auto& field = x.*(m1.field);
                    using F = std::remove_cvref_t<decltype(field)>;
                    if constexpr (IsOptional<F>::value) {
                        if (field) {
                            out.append_new(std::string(m1.name),
                                           Codec<typename F::value_type>::to_value(*field));
                        }
                    } else {
                        out.append_new(std::string(m1.name), Codec<F>::to_value(field));
                    }
                };
                (add(m), ...);
            },
            decl.members);
        return out;
    }
};

template <DeclaredAs<IsVariantsDecl> E>
struct Codec<E> {
    static constexpr auto& names = declaration_of<E>.names;

    static Result<E> read(TextReader& r) {
        auto index = r.read_variant(names);
        if (!index) return std::unexpected(index.error());
        return static_cast<E>(*index);
    }
    static Result<E> read(const Value& v) {
        auto lookup = [](std::string_view name) -> Result<E> {
            auto it = std::find(names.begin(), names.end(), name);
            if (it == names.end()) return std::unexpected(unknown_variant(name, names));
            return static_cast<E>(it - names.begin());
        };
        if (auto s = v.as_string()) return lookup(*s);
        if (const Object* object = v.as_object()) {
            if (object->size() != 1) {
                return std::unexpected(invalid_value("map", "map with a single key"));
            }
            auto e = lookup((*object)[0].first);
            if (!e) return e;
            const Value& unit = (*object)[0].second;
            if (!unit.is_null()) return std::unexpected(invalid_type(describe(unit), "unit"));
            return e;
        }
        return std::unexpected(invalid_type(describe(v), "string or map"));
    }
    template <Form>
    static Written write(std::string& out, E e) {
        append_quoted(out, names[static_cast<std::size_t>(e)]);
        return {};
    }
    static Value to_value(E e) { return Value(names[static_cast<std::size_t>(e)]); }
};

template <DeclaredAs<IsParsedStringDecl> T>
struct Codec<T> {
    static constexpr auto& decl = declaration_of<T>;

    static Result<T> read(TextReader& r) {
        return r.read_parsed_string(decl.expecting, decl.parse);
    }
    static Result<T> read(const Value& v) {
        const String* s = v.as_string();
        if (!s) return std::unexpected(invalid_type(describe(v), decl.expecting));
        auto parsed = decl.parse(*s);
        if (!parsed) return std::unexpected(Error{std::move(parsed.error())});
        return std::move(*parsed);
    }
    template <Form>
    static Written write(std::string& out, const T& x) {
        append_quoted(out, decl.format(x));
        return {};
    }
    static Value to_value(const T& x) { return Value(decl.format(x)); }
};

// ---- Entry points -----------------------------------------------------------------------

// Reads a whole JSON text as T: only space, tab, LF and CR may follow the value.
template <class T>
Result<T> from_json(std::string_view text) {
    TextReader reader(text);
    auto value = Codec<T>::read(reader);
    if (!value) return value;
    if (auto end = reader.finish(); !end) return std::unexpected(end.error());
    return value;
}

template <class T>
Result<T> from_json(std::span<const std::uint8_t> bytes) {
    return from_json<T>(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Reads T from an already parsed value; errors carry no position. A value passed as an rvalue
// is moved from, and is left unspecified.
template <class T>
Result<T> from_value(const Value& value) {
    return Codec<T>::read(value);
}
template <class T>
Result<T> from_value(Value&& value) {
    return Codec<T>::read(std::move(value));
}

template <class T>
Value to_value(const T& x) {
    return Codec<T>::to_value(x);
}

// The first member of an object, in member order, whose name record T does not declare (exact,
// case-sensitive); nothing for other values. Nested values are not looked into.
template <DeclaredAs<IsRecordDecl> T>
std::optional<std::string> first_undeclared_member(const Value& value) {
    const Object* object = value.as_object();
    if (!object) return std::nullopt;
    for (const auto& [name, member] : *object) {
        if (Codec<T>::index_of(name) == Codec<T>::N) return std::string(name.view());
    }
    return std::nullopt;
}

// Compact JSON text; absent optional members are left out.
template <class T>
std::string to_json(const T& x) {
    std::string out;
    (void)Codec<T>::template write<Form::Compact>(out, x);
    return out;
}

// Canonical JSON (RFC 8785) text, as canonical_json() writes the Value of `x`; of a record, the
// member named `left_out` is left out (what a signature over the other members covers).
template <class T>
std::expected<std::string, CanonicalJsonError> to_canonical_json(const T& x,
                                                                 std::string_view left_out = {}) {
    std::string out;
    Written written;
    if constexpr (DeclaredAs<T, IsRecordDecl>) {
        written = Codec<T>::template write<Form::Canonical>(out, x, left_out);
    } else {
        written = Codec<T>::template write<Form::Canonical>(out, x);
    }
    if (!written) return std::unexpected(std::move(written.error()));
    return out;
}

}  // namespace vesk::json
