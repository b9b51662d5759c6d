#include "frame/errors.h"

#include <cstdio>
#include <cstdlib>

#include "frame/exports.h"
#include "vesk/core/fault.h"

namespace vesk::frame {
namespace {

constexpr const char* panic_doc =
    "\nThe exception raised when C++ code called from Python panics.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

constexpr const char* manifest_error_doc =
    "A manifest envelope failed verification.\n\n"
    "The raised instance carries a stable machine-readable `code`, one of \"signature_invalid\", "
    "\"pop_failed\", \"aid_mismatch\", \"expired\", \"version_unknown\", "
    "\"identity_hint_malformed\", \"incompatible_identity_type\" or \"malformed\". "
    "Branch on `code`, never on the message text.";

constexpr const char* revocation_error_doc =
    "A revocation snapshot failed verification.\n\n"
    "The raised instance carries a stable machine-readable `code`, one of "
    "\"signature_invalid\", \"issuer_mismatch\", \"version_unknown\", \"expired\" or "
    "\"malformed\". Branch on `code`, never on the message text.";

// Creates an exception class once per process. The interpreter lock is held throughout; should
// creation let another thread in and that thread win, its class is kept and ours dropped.
PyObject* exception_class(PyObject*& slot, const char* name, const char* doc, PyObject* base) {
    if (slot) return slot;
    PyObject* created = PyErr_NewExceptionWithDoc(name, doc, base, nullptr);
    if (!created) {
        PyErr_Clear();
        fault("Failed to initialize new exception type.");
    }
    if (slot) {
        Py_DECREF(created);
    } else {
        slot = created;
    }
    return slot;
}

PyObject* panic_class = nullptr;
PyObject* manifest_class = nullptr;
PyObject* revocation_class = nullptr;

const Export manifest_error_export{"ManifestVerificationError", [](PyObject*) {
                                       return Ref::borrow(manifest_verification_error());
                                   }};
const Export revocation_error_export{"RevocationVerificationError", [](PyObject*) {
                                         return Ref::borrow(revocation_verification_error());
                                     }};

}  // namespace

PyObject* panic_exception() {
    return exception_class(panic_class, "vesk.PanicException", panic_doc, PyExc_BaseException);
}
PyObject* manifest_verification_error() {
    return exception_class(manifest_class, "vesk.ManifestVerificationError", manifest_error_doc,
                           PyExc_RuntimeError);
}
PyObject* revocation_verification_error() {
    return exception_class(revocation_class, "vesk.RevocationVerificationError",
                           revocation_error_doc, PyExc_RuntimeError);
}

Error Error::python(Ref exception) {
    Error error(Kind::Python, {});
    error.exception_ = std::move(exception);
    return error;
}

void Error::raise() const {
    switch (kind_) {
        case Kind::Value:
            return raise_value_error(message_);
        case Kind::Runtime:
            return raise_runtime_error(message_);
        case Kind::ManifestVerification:
            return raise_with_code(manifest_verification_error(), message_, code_);
        case Kind::RevocationVerification:
            return raise_with_code(revocation_verification_error(), message_, code_);
        case Kind::Python:
            if (!exception_) fault("an error names a Python exception but holds none");
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception_.get())),
                            exception_.get());
            return;
    }
}

Ref text_to_python(std::string_view text) {
    return Ref::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

namespace {
void raise_text(PyObject* type, std::string_view message) {
    Ref text = text_to_python(message);
    if (text) PyErr_SetObject(type, text.get());
}
}  // namespace

void raise_value_error(std::string_view message) {
    raise_text(PyExc_ValueError, message);
}
void raise_runtime_error(std::string_view message) {
    raise_text(PyExc_RuntimeError, message);
}
void raise_panic(std::string_view message) {
    raise_text(panic_exception(), message);
}

void raise_with_code(PyObject* type, std::string_view message, std::string_view code) {
    Ref text = text_to_python(message);
    if (!text) return;
    Ref instance = Ref::steal(PyObject_CallFunctionObjArgs(type, text.get(), nullptr));
    if (!instance) return;
    Ref code_text = text_to_python(code);
    if (!code_text || PyObject_SetAttrString(instance.get(), "code", code_text.get()) < 0) {
        PyErr_Clear();
    }
    PyErr_SetObject(type, instance.get());
}

void panic_from_fault(const char* message) noexcept {
    try {
        raise_panic(message ? message : "panic from C++ code");
    } catch (...) {
        std::fputs("uncaught panic at ffi boundary\n", stderr);
        std::abort();
    }
}

Ref take_exception() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (!type) return {};
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback) PyException_SetTraceback(value, traceback);
    if (!PyErr_GivenExceptionMatches(type, panic_exception())) {
        Py_XDECREF(type);
        Py_XDECREF(traceback);
        return Ref::steal(value);
    }
    Ref panic = Ref::borrow(value);
    PySys_WriteStderr(
        "--- vesk is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\n");
    PyErr_Restore(type, value, traceback);
    PyErr_PrintEx(0);
    Ref text = Ref::steal(PyObject_Str(panic.get()));
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
    if (!utf8) {
        PyErr_Clear();
        fault("Unwrapped panic from Python code");
    }
    fault(utf8);
}

}  // namespace vesk::frame
