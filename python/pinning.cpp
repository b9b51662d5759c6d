// SPKI certificate pinning from Python: compute_spki_hash and SpkiPinVerifier.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frame/members.h"
#include "vesk/pinning/spki.h"

namespace vesk::python {

// One pin as given: `bytes`, `bytearray`, or any other sequence of integers 0 to 255.
struct PinArg {
    Bytes bytes;
};

}  // namespace vesk::python

namespace vesk::frame {

template <>
struct Arg<python::PinArg> {
    using Held = python::PinArg;
    static constexpr bool none_absent = false;
    static std::optional<Held> convert(PyObject* object) {
        // The size of the buffer itself: a subclass's __len__ may say anything.
        if (PyBytes_Check(object)) {
            char* data = nullptr;
            Py_ssize_t size = 0;
            if (PyBytes_AsStringAndSize(object, &data, &size) < 0) return std::nullopt;
            return python::PinArg{Bytes(data, data + size)};
        }
        if (PyByteArray_Check(object)) {
            const char* data = PyByteArray_AsString(object);
            const Py_ssize_t size = PyByteArray_Size(object);
            if (!data || size < 0) return std::nullopt;
            return python::PinArg{Bytes(data, data + size)};
        }
        std::size_t size_hint = 0;
        Ref iterator = sequence_iterator(object, size_hint);
        if (!iterator) return std::nullopt;
        python::PinArg pin;
        pin.bytes.reserve(size_hint);
        while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
            std::optional<std::int64_t> number = Arg<std::int64_t>::convert(item.get());
            if (!number) {
                if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return std::nullopt;
                PyErr_Clear();
            }
            if (!number || *number < 0 || *number > 255) {
                PyErr_SetString(PyExc_TypeError, "out of range integral type conversion attempted");
                return std::nullopt;
            }
            pin.bytes.push_back(static_cast<std::uint8_t>(*number));
        }
        if (PyErr_Occurred()) return std::nullopt;
        return pin;
    }
    static Held&& pass(Held& held) { return std::move(held); }
};

}  // namespace vesk::frame

namespace vesk::python {
namespace {

using frame::Error;

constexpr std::string_view kCertificatePrefix = "invalid X.509 certificate (DER): ";

struct PySpkiPinVerifier {
    pinning::SpkiPinVerifier pins;

    static const frame::ClassSpec& python_class();
};

frame::Result<std::vector<std::uint8_t>> compute_spki_hash(std::vector<std::uint8_t> cert_der) {
    auto hash = pinning::compute_spki_hash(cert_der);
    if (!hash)
        return std::unexpected(Error::value(std::string(kCertificatePrefix) + hash.error().text()));
    return std::vector<std::uint8_t>(hash->begin(), hash->end());
}

frame::Result<PySpkiPinVerifier> new_verifier(std::vector<PinArg> pins) {
    std::vector<Bytes> values;
    values.reserve(pins.size());
    for (PinArg& pin : pins) values.push_back(std::move(pin.bytes));
    auto verifier = pinning::SpkiPinVerifier::create(values);
    if (!verifier) return std::unexpected(Error::value(verifier.error().text()));
    return PySpkiPinVerifier{std::move(*verifier)};
}

std::uint64_t pin_count(const PySpkiPinVerifier& self) {
    return self.pins.len();
}

frame::Result<bool> is_pinned(const PySpkiPinVerifier& self, std::vector<std::uint8_t> cert_der) {
    auto pinned = self.pins.is_pinned(cert_der);
    if (!pinned)
        return std::unexpected(
            Error::value(std::string(kCertificatePrefix) + pinned.error().text()));
    return *pinned;
}

const frame::ClassSpec& PySpkiPinVerifier::python_class() {
    static const frame::ClassSpec spec = frame::define_class<PySpkiPinVerifier>(
        "SpkiPinVerifier", frame::constructor<&new_verifier>({"pins"}),
        "Holds a list of 32-byte SPKI pins and tells whether a candidate certificate is pinned.\n"
        "For use with an HTTP client's \"check-server-identity\" hook: hash the leaf\n"
        "certificate, compare against the pinned set, and reject the connection otherwise.\n"
        "The pins are SHA-256 hashes of the DER SubjectPublicKeyInfo (see compute_spki_hash).",
        {
            frame::property<&pin_count>("len", "The number of pins."),
            frame::method<&is_pinned>(
                "is_pinned", {"cert_der"},
                "Returns True iff the SPKI hash of `cert_der` is in the pin list."),
        });
    return spec;
}

const frame::Export verifier_export = frame::export_class<PySpkiPinVerifier>();
const frame::Export hash_export = frame::export_function<&compute_spki_hash>(
    "compute_spki_hash", {"cert_der"},
    "Computes the SHA-256 SPKI hash of an X.509 DER certificate.\n\n"
    "Returns 32 bytes: SHA-256 over the certificate's DER SubjectPublicKeyInfo. Raises\n"
    "ValueError if `cert_der` is not a parseable certificate.");

}  // namespace
}  // namespace vesk::python
