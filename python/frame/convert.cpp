#include "frame/convert.h"

#include <algorithm>

namespace vesk::frame {
namespace {

std::string type_name(PyObject* object) {
    Ref name = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    const char* utf8 = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
    if (!utf8) {
        PyErr_Clear();
        return "<failed to extract type name>";
    }
    return utf8;
}

// The expected type named when a list argument is not a sequence.
std::string sequence_name() {
    Ref abc = Ref::steal(PyImport_ImportModule("collections.abc"));
    Ref sequence = abc ? Ref::steal(PyObject_GetAttrString(abc.get(), "Sequence")) : Ref{};
    Ref name =
        sequence ? Ref::steal(PyObject_GetAttrString(sequence.get(), "__qualname__")) : Ref{};
    const char* utf8 = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
    if (!utf8) {
        PyErr_Clear();
        return "Sequence";
    }
    return utf8;
}

// The contents of a `bytes` object, borrowed from it.
std::optional<std::span<const std::uint8_t>> bytes_of(PyObject* object) {
    if (!PyBytes_Check(object)) {
        raise_not_instance(object, "bytes");
        return std::nullopt;
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(object, &data, &size) < 0) return std::nullopt;
    return std::span(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size));
}

}  // namespace

void raise_not_instance(PyObject* object, std::string_view expected) {
    std::string message = object == Py_None
                              ? "'None' is not an instance of '"
                              : "'" + type_name(object) + "' object is not an instance of '";
    message += std::string(expected) + "'";
    Ref text = text_to_python(message);
    if (text) PyErr_SetObject(PyExc_TypeError, text.get());
}

std::optional<std::string> Arg<std::string>::convert(PyObject* object) {
    if (!PyUnicode_Check(object)) {
        raise_not_instance(object, "str");
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (!utf8) return std::nullopt;
    return std::string(utf8, static_cast<std::size_t>(size));
}

std::optional<std::vector<std::uint8_t>> Arg<std::vector<std::uint8_t>>::convert(PyObject* object) {
    auto bytes = bytes_of(object);
    if (!bytes) return std::nullopt;
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

std::optional<SecretBytes> Arg<SecretBytes>::convert(PyObject* object) {
    auto bytes = bytes_of(object);
    if (!bytes) return std::nullopt;
    return SecretBytes(bytes->begin(), bytes->end());
}

std::optional<std::int64_t> Arg<std::int64_t>::convert(PyObject* object) {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) return std::nullopt;
    static_assert(sizeof(long) == sizeof(std::int64_t));
    const long value = PyLong_AsLong(index.get());
    if (value == -1 && PyErr_Occurred()) return std::nullopt;
    return value;
}

std::optional<std::uint64_t> Arg<std::uint64_t>::convert(PyObject* object) {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) return std::nullopt;
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
    return value;
}

std::optional<std::set<std::string>> Arg<std::set<std::string>>::convert(PyObject* object) {
    if (!PyAnySet_Check(object)) {
        raise_not_instance(object, "set");
        return std::nullopt;
    }
    Ref iterator = Ref::steal(PyObject_GetIter(object));
    if (!iterator) return std::nullopt;
    std::set<std::string> texts;
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        std::optional<std::string> text = Arg<std::string>::convert(item.get());
        if (!text) return std::nullopt;
        texts.insert(std::move(*text));
    }
    if (PyErr_Occurred()) return std::nullopt;
    return texts;
}

std::optional<Dict> Arg<Dict>::convert(PyObject* object) {
    if (!PyDict_Check(object)) {
        raise_not_instance(object, "dict");
        return std::nullopt;
    }
    return Dict{Ref::borrow(object)};
}

std::optional<List> Arg<List>::convert(PyObject* object) {
    if (!PyList_Check(object)) {
        raise_not_instance(object, "list");
        return std::nullopt;
    }
    return List{Ref::borrow(object)};
}

Ref sequence_iterator(PyObject* object, std::size_t& size_hint) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return {};
    }
    if (!PySequence_Check(object)) {
        raise_not_instance(object, sequence_name());
        return {};
    }
    // The claimed length is only a hint: its failure is dropped, unless it is a resumed panic,
    // and as a sequence may report more items than it yields, at most a modest number of
    // items is reserved up front.
    constexpr Py_ssize_t max_reserved = 1024;
    const Py_ssize_t size = PySequence_Size(object);
    if (size < 0) take_exception();
    size_hint = static_cast<std::size_t>(std::clamp<Py_ssize_t>(size, 0, max_reserved));
    return Ref::steal(PyObject_GetIter(object));
}

Ref to_python(const std::string& text) {
    return Ref::steal(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref to_python(const std::vector<std::uint8_t>& bytes) {
    return Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<Py_ssize_t>(bytes.size())));
}

Ref to_python(std::int64_t number) {
    return Ref::steal(PyLong_FromLongLong(number));
}
Ref to_python(std::uint64_t number) {
    return Ref::steal(PyLong_FromUnsignedLongLong(number));
}
Ref to_python(bool truth) {
    return Ref::steal(PyBool_FromLong(truth));
}

Ref to_python(const std::pair<std::string, std::string>& pair) {
    Ref first = to_python(pair.first);
    Ref second = first ? to_python(pair.second) : Ref{};
    if (!second) return {};
    return Ref::steal(PyTuple_Pack(2, first.get(), second.get()));
}

Ref to_python(const std::vector<std::string>& texts) {
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return {};
    for (const std::string& text : texts) {
        Ref item = to_python(text);
        if (!item || PyList_Append(list.get(), item.get()) < 0) return {};
    }
    return list;
}

}  // namespace vesk::frame
