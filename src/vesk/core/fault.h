// Internal faults: broken invariants and failures of the platform underneath.
// They are thrown, never returned, and reach Python as PanicException.
#pragma once

#include <stdexcept>
#include <string>

namespace vesk {

struct InternalFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void fault(const std::string& message) { throw InternalFault(message); }

}  // namespace vesk
