// Conversions between Python values and C++ values, one per argument kind and result kind,
// shared by every member. A conversion that fails returns nothing with an exception set.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frame/errors.h"
#include "frame/instance.h"
#include "frame/signature.h"
#include "vesk/crypto/secret.h"

namespace vesk::frame {

// Raises TypeError "'<type>' object is not an instance of '<expected>'" (or "'None' is not
// an instance of '<expected>'").
void raise_not_instance(PyObject* object, std::string_view expected);

// A Python object taken as is, e.g. a callback; it is called with the interpreter lock held.
struct Callable {
    Ref object;
};
// A `dict` (subclasses accepted).
struct Dict {
    Ref object;
};
// A `list` (subclasses accepted); tuples and other sequences are refused.
struct List {
    Ref object;
};
// The result of a builder method that returns the object it was called on.
struct SameObject {};

// Argument kinds. Each has `Held` (the converted value kept for the length of the call),
// `convert`, `pass` (what the C++ function receives), `none_absent` and, where a fixed default
// may be declared, `from_default`.
template <class T>
struct Arg;

template <>
struct Arg<std::string> {
    using Held = std::string;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object);
    static std::optional<Held> from_default(const DefaultValue& value) {
        if (const auto* text = std::get_if<std::string>(&value)) return *text;
        return std::nullopt;
    }
    static std::string&& pass(Held& held) { return std::move(held); }
};

template <>
struct Arg<std::vector<std::uint8_t>> {
    using Held = std::vector<std::uint8_t>;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object);
    static Held&& pass(Held& held) { return std::move(held); }
};

// `bytes` holding a secret: the copy is wiped when released, on every path.
template <>
struct Arg<SecretBytes> {
    using Held = SecretBytes;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object);
    static Held&& pass(Held& held) { return std::move(held); }
};

template <>
struct Arg<std::int64_t> {
    using Held = std::int64_t;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object);
    static std::optional<Held> from_default(const DefaultValue& value) {
        if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
        return std::nullopt;
    }
    static Held pass(Held held) { return held; }
};

template <>
struct Arg<std::uint64_t> {
    using Held = std::uint64_t;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object);
    static std::optional<Held> from_default(const DefaultValue& value) {
        if (const auto* number = std::get_if<std::uint64_t>(&value)) return *number;
        return std::nullopt;
    }
    static Held pass(Held held) { return held; }
};

template <>
struct Arg<std::set<std::string>> {
    using Held = std::set<std::string>;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object);
    static Held&& pass(Held& held) { return std::move(held); }
};

template <>
struct Arg<Callable> {
    using Held = Callable;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object) { return Callable{Ref::borrow(object)}; }
    static Held&& pass(Held& held) { return std::move(held); }
};

template <>
struct Arg<Dict> {
    using Held = Dict;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object);
    static Held&& pass(Held& held) { return std::move(held); }
};

template <>
struct Arg<List> {
    using Held = List;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object);
    static Held&& pass(Held& held) { return std::move(held); }
};

// The sequence rule shared by every list: a str is refused first, then the interpreter's
// sequence check decides; returns an iterator over the items, and a capacity hint.
Ref sequence_iterator(PyObject* object, std::size_t& size_hint);

// A list of items of one kind (e.g. list of text, list of bytes, list of dicts).
template <class Item>
struct Arg<std::vector<Item>> {
    using Held = std::vector<Item>;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object) {
        std::size_t size_hint = 0;
        Ref iterator = sequence_iterator(object, size_hint);
        if (!iterator) return std::nullopt;
        Held items;
        items.reserve(size_hint);
        while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
            std::optional<typename Arg<Item>::Held> converted = Arg<Item>::convert(item.get());
            if (!converted) return std::nullopt;
            items.push_back(Arg<Item>::pass(*converted));
        }
        if (PyErr_Occurred()) return std::nullopt;
        return items;
    }
    static Held&& pass(Held& held) { return std::move(held); }
};

// A parameter whose None (or absence) means "not given".
template <class Inner>
struct Arg<std::optional<Inner>> {
    using Held = std::optional<typename Arg<Inner>::Held>;
    static constexpr bool none_absent = true;
    static std::optional<Held> convert(PyObject* object) {
        std::optional<typename Arg<Inner>::Held> inner = Arg<Inner>::convert(object);
        if (!inner) return std::nullopt;
        return Held(std::move(inner));
    }
    static std::optional<Inner> pass(Held& held) {
        if (!held) return std::nullopt;
        return Arg<Inner>::pass(*held);
    }
};

// An instance of a module class, borrowed shared for the length of the call (frozen classes
// are read directly).
template <ModuleClass T>
struct Borrowed {
    Ref object;
    std::optional<SharedBorrow> borrow;
    const T* value;
};

template <ModuleClass T>
std::optional<Borrowed<T>> borrow_instance(PyObject* object) {
    PyTypeObject* type = T::python_class().type();
    if (!type) return std::nullopt;
    if (!PyObject_TypeCheck(object, type)) {
        raise_not_instance(object, T::python_class().name());
        return std::nullopt;
    }
    Instance<T>& instance = instance_of<T>(object);
    Borrowed<T> borrowed{Ref::borrow(object), std::nullopt, &instance.value()};
    if constexpr (!is_frozen<T>) {
        borrowed.borrow = SharedBorrow::take(instance.counter);
        if (!borrowed.borrow) return std::nullopt;
    }
    return borrowed;
}

template <ModuleClass T>
struct Arg<T> {
    using Held = Borrowed<T>;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object) { return borrow_instance<T>(object); }
    static const T& pass(Held& held) { return *held.value; }
};

// An optional instance: null when None or omitted.
template <ModuleClass T>
struct Arg<const T*> {
    using Held = std::optional<Borrowed<T>>;
    static constexpr bool none_absent = true;
    static std::optional<Held> convert(PyObject* object) {
        std::optional<Borrowed<T>> borrowed = borrow_instance<T>(object);
        if (!borrowed) return std::nullopt;
        return Held(std::move(borrowed));
    }
    static const T* pass(Held& held) { return held ? held->value : nullptr; }
};

// Result kinds: the Python value for a C++ result (null with an exception set on failure).
Ref to_python(const std::string& text);
Ref to_python(const std::vector<std::uint8_t>& bytes);
Ref to_python(std::int64_t number);
Ref to_python(std::uint64_t number);
Ref to_python(bool truth);
Ref to_python(const std::pair<std::string, std::string>& pair);
Ref to_python(const std::vector<std::string>& texts);
inline Ref to_python(Dict dict) {
    return std::move(dict.object);
}
template <ModuleClass T>
Ref to_python(T value) {
    return new_instance<T>(std::move(value));
}

}  // namespace vesk::frame
