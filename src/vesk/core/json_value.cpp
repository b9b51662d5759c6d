#include "vesk/core/json_value.h"

#include <cstring>

namespace vesk::json {

String::String(std::string_view text) : owner_byte_(0) {
    if (text.size() <= kInline) {
        size_ = static_cast<std::uint8_t>(text.size());
        std::memcpy(chars_, text.data(), text.size());
        return;
    }
    size_ = kOnHeap;
    auto* block = static_cast<char*>(std::malloc(sizeof(std::size_t) + text.size()));
    if (!block) throw std::bad_alloc();
    const std::size_t size = text.size();
    std::memcpy(block, &size, sizeof size);
    std::memcpy(block + sizeof size, text.data(), size);
    std::memcpy(chars_ + kPointerAt, &block, sizeof block);
}

String::String(String&& other) noexcept : owner_byte_(0), size_(other.size_) {
    std::memcpy(chars_, other.chars_, kInline);
    other.size_ = 0;
}

String& String::operator=(String other) noexcept {
    std::swap(size_, other.size_);
    std::swap(chars_, other.chars_);
    return *this;
}

String::~String() {
    if (size_ == kOnHeap) std::free(heap());
}

char* String::heap() const {
    char* block;
    std::memcpy(&block, chars_ + kPointerAt, sizeof block);
    return block;
}

std::string_view String::view() const {
    if (size_ != kOnHeap) return {chars_, size_};
    const char* block = heap();
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    return {block + sizeof size, size};
}

template <class Other>
void Value::take(Other&& other) {
    cell_.kind = other.cell_.kind;
    switch (other.kind()) {
        case Kind::Null:
            return;
        case Kind::Bool:
            cell_.boolean = other.cell_.boolean;
            return;
        case Kind::Unsigned:
            cell_.unsigned_ = other.cell_.unsigned_;
            return;
        case Kind::Negative:
            cell_.negative = other.cell_.negative;
            return;
        case Kind::Double:
            cell_.double_ = other.cell_.double_;
            return;
        case Kind::String:
            new (&string_) String(std::forward<Other>(other).string_);
            string_.owner_byte_ = Cell::byte(Kind::String);
            return;
        case Kind::Array:
            new (&cell_.array) Array(std::forward<Other>(other).cell_.array);
            return;
        case Kind::Object:
            new (&cell_.object) Object(std::forward<Other>(other).cell_.object);
            return;
    }
}

Value::Value(const Value& other) : cell_(Kind::Null) {
    take(other);
}

Value::Value(Value&& other) noexcept : cell_(Kind::Null) {
    take(std::move(other));
}

Value& Value::operator=(Value other) noexcept {
    destroy();
    take(std::move(other));
    return *this;
}

void Value::destroy() noexcept {
    switch (kind()) {
        case Kind::String:
            string_.~String();
            break;
        case Kind::Array:
            cell_.array.~Array();
            break;
        case Kind::Object:
            cell_.object.~Object();
            break;
        default:
            return;
    }
    new (&cell_) Cell(Kind::Null);
}

bool Value::operator==(const Value& other) const {
    if (kind() != other.kind()) return false;
    switch (kind()) {
        case Kind::Null:
            return true;
        case Kind::Bool:
            return cell_.boolean == other.cell_.boolean;
        case Kind::Unsigned:
            return cell_.unsigned_ == other.cell_.unsigned_;
        case Kind::Negative:
            return cell_.negative == other.cell_.negative;
        case Kind::Double:
            return cell_.double_ == other.cell_.double_;
        case Kind::String:
            return string_ == other.string_;
        case Kind::Array:
            return cell_.array == other.cell_.array;
        case Kind::Object:
            return cell_.object == other.cell_.object;
    }
    return false;
}

const Value* Object::find(std::string_view name) const {
    auto it = std::find_if(begin(), end(), [&](const Member& m) { return m.first == name; });
    return it == end() ? nullptr : &it->second;
}

Value* Object::find(std::string_view name) {
    return const_cast<Value*>(std::as_const(*this).find(name));
}

void Object::insert_or_assign(std::string_view name, Value value) {
    if (Value* existing = find(name)) {
        *existing = std::move(value);
        return;
    }
    append_new(name, std::move(value));
}

bool Object::operator==(const Object& other) const {
    return members_ == other.members_;
}

}  // namespace vesk::json
