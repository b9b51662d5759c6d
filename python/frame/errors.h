// How failures leave the module: error values mapped to Python exceptions, the module's
// exception classes, and the guard that keeps every C++ exception out of the interpreter.
#pragma once

#include <exception>
#include <expected>
#include <string>
#include <string_view>

#include "frame/ref.h"

namespace vesk::frame {

// The Python exception an operation's error value becomes.
class Error {
  public:
    enum class Kind { Value, Runtime, ManifestVerification, RevocationVerification, Python };

    static Error value(std::string message) { return Error(Kind::Value, std::move(message)); }
    static Error runtime(std::string message) { return Error(Kind::Runtime, std::move(message)); }
    static Error manifest_verification(std::string message, std::string code) {
        return Error(Kind::ManifestVerification, std::move(message), std::move(code));
    }
    static Error revocation_verification(std::string message, std::string code) {
        return Error(Kind::RevocationVerification, std::move(message), std::move(code));
    }
    // An exception raised by Python code (see take_exception), raised again unchanged.
    static Error python(Ref exception);

    Kind kind() const { return kind_; }
    const std::string& message() const { return message_; }
    const std::string& code() const { return code_; }

    // Sets the Python error indicator.
    void raise() const;

  private:
    Error(Kind kind, std::string message, std::string code = {})
        : kind_(kind), message_(std::move(message)), code_(std::move(code)) {}
    Kind kind_;
    std::string message_;
    std::string code_;
    Ref exception_;
};

template <class T>
using Result = std::expected<T, Error>;

// The exception classes, created once per process on first use (borrowed references).
PyObject* panic_exception();
PyObject* manifest_verification_error();
PyObject* revocation_verification_error();

void raise_value_error(std::string_view message);
void raise_runtime_error(std::string_view message);
// Raises `type(message)` with the instance attribute `code`; a failure to set it is dropped.
void raise_with_code(PyObject* type, std::string_view message, std::string_view code);
void raise_panic(std::string_view message);

// Takes the pending Python exception. A PanicException is never handled as an ordinary
// error: it is printed with a notice and resumed as an internal fault.
Ref take_exception();

// A Python str from UTF-8 text; invalid sequences are replaced rather than refused.
Ref text_to_python(std::string_view text);

// Raises PanicException for a caught fault (no message: a fixed text); a failure while doing
// so ends the process.
void panic_from_fault(const char* message) noexcept;

// Runs `body` with every C++ exception turned into PanicException, so nothing unwinds into the
// interpreter; `failed` is returned in that case.
template <class Body>
auto guarded(Body&& body, decltype(body()) failed) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception& fault) {
        panic_from_fault(fault.what());
    } catch (...) {
        panic_from_fault(nullptr);
    }
    return failed;
}

}  // namespace vesk::frame
