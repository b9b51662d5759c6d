// OpenSSL objects owned by std::unique_ptr, freed by their own free functions.
#pragma once

#include <memory>

namespace vesk {

template <auto Free>
struct OpensslFree {
    template <class T>
    void operator()(T* object) const {
        Free(object);
    }
};

// Example: OpensslPtr<BIGNUM, BN_clear_free> k(BN_new());
template <class T, auto Free>
using OpensslPtr = std::unique_ptr<T, OpensslFree<Free>>;

}  // namespace vesk
