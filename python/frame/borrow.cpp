#include "frame/borrow.h"

#include "frame/python.h"

namespace vesk::frame {

std::optional<SharedBorrow> SharedBorrow::take(BorrowCounter& counter) {
    if (!counter.try_shared()) {
        PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
        return std::nullopt;
    }
    return SharedBorrow(counter);
}

std::optional<ExclusiveBorrow> ExclusiveBorrow::take(BorrowCounter& counter) {
    if (!counter.try_exclusive()) {
        PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        return std::nullopt;
    }
    return ExclusiveBorrow(counter);
}

}  // namespace vesk::frame
