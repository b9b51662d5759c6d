// The generic JSON value: what a JSON text holds, with objects keeping member order.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vesk::json {

class Value;
using Array = std::vector<Value>;

// Members in the order their names first appeared; each name held once.
class Object {
  public:
    using Member = std::pair<std::string, Value>;

    const Value* find(std::string_view name) const;
    Value* find(std::string_view name);
    // A repeated name keeps its first place and takes the new value.
    void insert_or_assign(std::string name, Value value);
    // Appends without looking for the name: the caller knows it is new.
    void append_new(std::string name, Value value);
    void reserve(std::size_t n);

    std::size_t size() const;
    bool empty() const;
    std::vector<Member>::const_iterator begin() const;
    std::vector<Member>::const_iterator end() const;
    const Member& operator[](std::size_t i) const;
    Member& operator[](std::size_t i);

    bool operator==(const Object&) const;

  private:
    std::vector<Member> members_;
};

enum class Kind { Null, Bool, Unsigned, Negative, Double, String, Array, Object };

// Numbers keep the reader's classification: integers >= 0 that fit 64 unsigned bits,
// negative integers that fit 64 signed bits, and doubles for everything else.
class Value {
  public:
    using Storage = std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, double,
                                 std::string, Array, Object>;

    Value() : v_(nullptr) {}
    Value(std::nullptr_t) : v_(nullptr) {}
    Value(bool b) : v_(b) {}
    template <std::integral I>
    requires(!std::same_as<I, bool> && !std::same_as<I, char>) Value(I i) {
        if constexpr (std::is_signed_v<I>) {
            if (i < 0) {
                v_ = static_cast<std::int64_t>(i);
                return;
            }
        }
        v_ = static_cast<std::uint64_t>(i);
    }
    Value(double d) : v_(d) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(Array a) : v_(std::move(a)) {}
    Value(Object o) : v_(std::move(o)) {}

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool is_null() const { return kind() == Kind::Null; }

    const bool* as_bool() const { return std::get_if<bool>(&v_); }
    const std::uint64_t* as_unsigned() const { return std::get_if<std::uint64_t>(&v_); }
    const std::int64_t* as_negative() const { return std::get_if<std::int64_t>(&v_); }
    const double* as_double() const { return std::get_if<double>(&v_); }
    const std::string* as_string() const { return std::get_if<std::string>(&v_); }
    const Array* as_array() const { return std::get_if<Array>(&v_); }
    const Object* as_object() const { return std::get_if<Object>(&v_); }
    std::string* as_string() { return std::get_if<std::string>(&v_); }
    Array* as_array() { return std::get_if<Array>(&v_); }
    Object* as_object() { return std::get_if<Object>(&v_); }

    const Storage& storage() const { return v_; }

    bool operator==(const Value& other) const { return v_ == other.v_; }

  private:
    Storage v_;
};

// Object's member list is only touched once Value is complete.
inline void Object::reserve(std::size_t n) {
    members_.reserve(n);
}
inline std::size_t Object::size() const {
    return members_.size();
}
inline bool Object::empty() const {
    return members_.empty();
}
inline std::vector<Object::Member>::const_iterator Object::begin() const {
    return members_.begin();
}
inline std::vector<Object::Member>::const_iterator Object::end() const {
    return members_.end();
}
inline const Object::Member& Object::operator[](std::size_t i) const {
    return members_[i];
}
inline Object::Member& Object::operator[](std::size_t i) {
    return members_[i];
}

}  // namespace vesk::json
