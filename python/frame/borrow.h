// The borrow counter of a mutable instance: 0 when free, the number of shared borrows while
// shared, all bits set while borrowed exclusively. Borrows are scoped guards, so every path
// releases them.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>

namespace vesk::frame {

class BorrowCounter {
  public:
    static constexpr std::uintptr_t exclusive = ~std::uintptr_t{0};

    bool try_shared() {
        std::uintptr_t current = count_.load(std::memory_order_relaxed);
        do {
            if (current == exclusive) return false;
        } while (!count_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                               std::memory_order_relaxed));
        return true;
    }
    void release_shared() { count_.fetch_sub(1, std::memory_order_release); }

    bool try_exclusive() {
        std::uintptr_t expected = 0;
        return count_.compare_exchange_strong(expected, exclusive, std::memory_order_acquire,
                                              std::memory_order_relaxed);
    }
    void release_exclusive() { count_.store(0, std::memory_order_release); }

    bool is_exclusive() const { return count_.load(std::memory_order_relaxed) == exclusive; }

  private:
    std::atomic<std::uintptr_t> count_{0};
};

// Holds a shared borrow until destroyed.
class SharedBorrow {
  public:
    // Returns nothing (and sets RuntimeError "Already mutably borrowed") on conflict.
    static std::optional<SharedBorrow> take(BorrowCounter& counter);
    SharedBorrow(SharedBorrow&& other) noexcept
        : counter_(std::exchange(other.counter_, nullptr)) {}
    SharedBorrow& operator=(SharedBorrow&& other) noexcept {
        if (this != &other) {
            release();
            counter_ = std::exchange(other.counter_, nullptr);
        }
        return *this;
    }
    ~SharedBorrow() { release(); }

  private:
    explicit SharedBorrow(BorrowCounter& counter) : counter_(&counter) {}
    void release() {
        if (counter_) counter_->release_shared();
    }
    BorrowCounter* counter_;
};

// Holds the exclusive borrow until destroyed.
class ExclusiveBorrow {
  public:
    // Returns nothing (and sets RuntimeError "Already borrowed") on conflict.
    static std::optional<ExclusiveBorrow> take(BorrowCounter& counter);
    ExclusiveBorrow(ExclusiveBorrow&& other) noexcept
        : counter_(std::exchange(other.counter_, nullptr)) {}
    ExclusiveBorrow& operator=(ExclusiveBorrow&& other) noexcept {
        if (this != &other) {
            release();
            counter_ = std::exchange(other.counter_, nullptr);
        }
        return *this;
    }
    ~ExclusiveBorrow() { release(); }

  private:
    explicit ExclusiveBorrow(BorrowCounter& counter) : counter_(&counter) {}
    void release() {
        if (counter_) counter_->release_exclusive();
    }
    BorrowCounter* counter_;
};

}  // namespace vesk::frame
