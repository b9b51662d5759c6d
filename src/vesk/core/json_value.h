// The generic JSON value: what a JSON text holds, with objects keeping member order.
//
// Values are compact, so that a value read from a text costs a small multiple of the text: a
// Value is 16 bytes, its kind and payload. Strings of up to 14 bytes live inside it; longer
// ones, arrays and objects live in one heap block each, of exact size once built.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace vesk::json {

enum class Kind : std::uint8_t { Null, Bool, Unsigned, Negative, Double, String, Array, Object };

class Value;

// Text of exact size: up to 14 bytes inline, longer text in a heap block behind its length.
class String {
  public:
    String() noexcept : owner_byte_(0), size_(0) {}
    explicit String(std::string_view text);
    String(const String& other) : String(other.view()) {}
    String(String&& other) noexcept;
    String& operator=(String other) noexcept;
    ~String();

    std::string_view view() const;
    operator std::string_view() const { return view(); }
    std::size_t size() const { return view().size(); }
    bool empty() const { return size_ == 0; }

    friend bool operator==(const String& a, std::string_view b) { return a.view() == b; }
    friend bool operator==(const String& a, const String& b) { return a.view() == b.view(); }

  private:
    friend class Value;
    static constexpr std::size_t kInline = 14;
    static constexpr std::uint8_t kOnHeap = 0xFF;
    static constexpr std::size_t kPointerAt = 6;  // in chars_: bytes 8 to 15 of the object

    char* heap() const;

    std::uint8_t owner_byte_;  // free for a Value to keep its kind in
    std::uint8_t size_;        // inline length, or kOnHeap
    char chars_[kInline];
};

// A vector in one heap block that also holds its size and capacity: one pointer, and no
// allocation while empty. Growing moves the elements bitwise (realloc, which moves large
// blocks without copying them); the JSON types allow this, as none points into itself.
template <class T>
class Items {
  public:
    Items() noexcept = default;
    Items(std::initializer_list<T> items);
    Items(const Items& other);
    Items(Items&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    Items& operator=(Items other) noexcept {
        std::swap(block_, other.block_);
        return *this;
    }
    ~Items();

    std::size_t size() const { return block_ ? block_->size : 0; }
    bool empty() const { return size() == 0; }
    const T* begin() const { return data(); }
    const T* end() const { return data() + size(); }
    T* begin() { return data(); }
    T* end() { return data() + size(); }
    const T& operator[](std::size_t i) const { return data()[i]; }
    T& operator[](std::size_t i) { return data()[i]; }

    void reserve(std::size_t n) {
        if (n > capacity()) resize_block(n);
    }
    T& push_back(T item);
    // Gives back the capacity beyond the size.
    void shrink_to_fit();

    bool operator==(const Items& other) const {
        return std::equal(begin(), end(), other.begin(), other.end());
    }

  private:
    struct Block {
        std::size_t size;
        std::size_t capacity;
    };  // the elements follow

    std::size_t capacity() const { return block_ ? block_->capacity : 0; }
    T* data() const { return block_ ? reinterpret_cast<T*>(block_ + 1) : nullptr; }
    void resize_block(std::size_t capacity);

    Block* block_ = nullptr;
};

using Array = Items<Value>;

// Members in the order their names first appeared; each name held once.
class Object {
  public:
    using Member = std::pair<String, Value>;

    const Value* find(std::string_view name) const;
    Value* find(std::string_view name);
    // A repeated name keeps its first place and takes the new value.
    void insert_or_assign(std::string_view name, Value value);
    // Appends without looking for the name: the caller knows it is new.
    Value& append_new(std::string_view name, Value value);
    void reserve(std::size_t n);
    void shrink_to_fit();

    std::size_t size() const { return members_.size(); }
    bool empty() const { return members_.empty(); }
    const Member* begin() const { return members_.begin(); }
    const Member* end() const { return members_.end(); }
    Member* begin() { return members_.begin(); }
    Member* end() { return members_.end(); }
    const Member& operator[](std::size_t i) const { return members_[i]; }
    Member& operator[](std::size_t i) { return members_[i]; }

    bool operator==(const Object&) const;

  private:
    Items<Member> members_;
};

// Numbers keep the reader's classification: integers >= 0 that fit 64 unsigned bits,
// negative integers that fit 64 signed bits, and doubles for everything else.
class Value {
  public:
    Value() noexcept : cell_(Kind::Null) {}
    Value(std::nullptr_t) noexcept : Value() {}
    Value(bool b) noexcept : cell_(Kind::Bool) { cell_.boolean = b; }
    template <std::integral I>
    requires(!std::same_as<I, bool> && !std::same_as<I, char>) Value(I i)
    noexcept : cell_(Kind::Unsigned) {
        if constexpr (std::is_signed_v<I>) {
            if (i < 0) {
                cell_.kind = Cell::byte(Kind::Negative);
                cell_.negative = i;
                return;
            }
        }
        cell_.unsigned_ = static_cast<std::uint64_t>(i);
    }
    Value(double d) noexcept : cell_(Kind::Double) { cell_.double_ = d; }
    Value(std::string_view s) : string_(s) { string_.owner_byte_ = Cell::byte(Kind::String); }
    Value(const char* s) : Value(std::string_view(s)) {}
    Value(const std::string& s) : Value(std::string_view(s)) {}
    Value(Array a) noexcept : cell_(Kind::Array) { new (&cell_.array) Array(std::move(a)); }
    Value(Object o) noexcept : cell_(Kind::Object) { new (&cell_.object) Object(std::move(o)); }

    Value(const Value& other);
    Value(Value&& other) noexcept;
    Value& operator=(Value other) noexcept;
    ~Value() { destroy(); }

    // The kind sits in the first byte whichever member is in use.
    Kind kind() const { return static_cast<Kind>(cell_.kind); }
    bool is_null() const { return kind() == Kind::Null; }

    const bool* as_bool() const { return kind() == Kind::Bool ? &cell_.boolean : nullptr; }
    const std::uint64_t* as_unsigned() const {
        return kind() == Kind::Unsigned ? &cell_.unsigned_ : nullptr;
    }
    const std::int64_t* as_negative() const {
        return kind() == Kind::Negative ? &cell_.negative : nullptr;
    }
    const double* as_double() const { return kind() == Kind::Double ? &cell_.double_ : nullptr; }
    const String* as_string() const { return kind() == Kind::String ? &string_ : nullptr; }
    const Array* as_array() const { return kind() == Kind::Array ? &cell_.array : nullptr; }
    const Object* as_object() const { return kind() == Kind::Object ? &cell_.object : nullptr; }
    Array* as_array() { return kind() == Kind::Array ? &cell_.array : nullptr; }
    Object* as_object() { return kind() == Kind::Object ? &cell_.object : nullptr; }

    bool operator==(const Value& other) const;

  private:
    // Every kind but strings. Its first member and String's share the first byte.
    struct Cell {
        static constexpr std::uint8_t byte(Kind k) { return static_cast<std::uint8_t>(k); }
        explicit Cell(Kind k) noexcept : kind(byte(k)) {}
        ~Cell() {}
        std::uint8_t kind;
        union {
            bool boolean;
            std::uint64_t unsigned_;
            std::int64_t negative;
            double double_;
            Array array;
            Object object;
        };
    };
    // Copies or moves `other`'s content into *this, which holds nothing before.
    template <class Other>
    void take(Other&& other);
    void destroy() noexcept;

    union {
        Cell cell_;
        String string_;
    };
};

static_assert(sizeof(Value) == 16 && sizeof(Object::Member) == 32);

template <class T>
Items<T>::Items(std::initializer_list<T> items) {
    reserve(items.size());
    for (const T& item : items) push_back(item);
}

template <class T>
Items<T>::Items(const Items& other) {
    reserve(other.size());
    for (const T& item : other) push_back(item);
}

template <class T>
Items<T>::~Items() {
    std::destroy(begin(), end());
    std::free(block_);
}

template <class T>
T& Items<T>::push_back(T item) {
    if (size() == capacity()) resize_block(std::max<std::size_t>(1, 2 * capacity()));
    T* slot = new (data() + block_->size) T(std::move(item));
    ++block_->size;
    return *slot;
}

template <class T>
void Items<T>::shrink_to_fit() {
    if (size() == capacity()) return;
    if (empty()) {
        std::free(std::exchange(block_, nullptr));
        return;
    }
    // A small block moves to a fresh one: the allocator keeps a tail cut from a small block in
    // a free list of its own size, where blocks of other sizes never reuse it. A large block
    // shrinks in place, which gives mapped pages back without copying them.
    constexpr std::size_t kMoveBelow = 64 * 1024;
    const std::size_t bytes = sizeof(Block) + size() * sizeof(T);
    if (bytes >= kMoveBelow) {
        resize_block(size());
        return;
    }
    void* exact = std::malloc(bytes);
    if (!exact) throw std::bad_alloc();
    std::memcpy(exact, static_cast<void*>(block_), bytes);
    std::free(std::exchange(block_, static_cast<Block*>(exact)));
    block_->capacity = block_->size;
}

template <class T>
void Items<T>::resize_block(std::size_t capacity) {
    if (capacity > (PTRDIFF_MAX - sizeof(Block)) / sizeof(T)) throw std::bad_alloc();
    void* resized = std::realloc(block_, sizeof(Block) + capacity * sizeof(T));
    if (!resized) throw std::bad_alloc();
    const bool fresh = block_ == nullptr;
    block_ = static_cast<Block*>(resized);
    if (fresh) block_->size = 0;
    block_->capacity = capacity;
}

// Object's members are only touched once Value is complete.
inline void Object::reserve(std::size_t n) {
    members_.reserve(n);
}
inline void Object::shrink_to_fit() {
    members_.shrink_to_fit();
}
inline Value& Object::append_new(std::string_view name, Value value) {
    return members_.push_back(Member(String(name), std::move(value))).second;
}

}  // namespace vesk::json
