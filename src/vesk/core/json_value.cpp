#include "vesk/core/json_value.h"

#include <algorithm>

namespace vesk::json {

const Value* Object::find(std::string_view name) const {
    auto it = std::find_if(members_.begin(), members_.end(),
                           [&](const Member& m) { return m.first == name; });
    return it == members_.end() ? nullptr : &it->second;
}

Value* Object::find(std::string_view name) {
    return const_cast<Value*>(std::as_const(*this).find(name));
}

void Object::insert_or_assign(std::string name, Value value) {
    if (Value* existing = find(name)) {
        *existing = std::move(value);
        return;
    }
    members_.emplace_back(std::move(name), std::move(value));
}

void Object::append_new(std::string name, Value value) {
    members_.emplace_back(std::move(name), std::move(value));
}

bool Object::operator==(const Object& other) const {
    return members_ == other.members_;
}

}  // namespace vesk::json
