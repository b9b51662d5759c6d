#include "vesk/crypto/recent_keys.h"

#include <algorithm>
#include <vector>

namespace vesk::recent_keys {
namespace {

constexpr std::size_t kCapacity = 16;

struct Table {
    std::vector<Entry> entries;
    std::uint64_t clock = 0;

    Entry& use(Entry& entry) {
        entry.last_use = ++clock;
        return entry;
    }
};

Table& table() {
    thread_local Table recent;
    return recent;
}

Entry& enter(std::string_view aid, const VerifyingKey& key) {
    Table& t = table();
    Entry fresh{std::string(aid), key, {}, std::nullopt, 0};
    if (t.entries.size() < kCapacity) return t.use(t.entries.emplace_back(std::move(fresh)));
    Entry& oldest = *std::ranges::min_element(t.entries, {}, &Entry::last_use);
    oldest = std::move(fresh);
    return t.use(oldest);
}

template <class Matches>
Entry* find_entry(Matches&& matches) {
    Table& t = table();
    auto found = std::ranges::find_if(t.entries, matches);
    return found == t.entries.end() ? nullptr : &t.use(*found);
}

Entry* find_key(const VerifyingKey& key) {
    return find_entry([&key](const Entry& e) { return e.key == key; });
}

}  // namespace

const Entry* find(std::string_view aid) {
    return find_entry([aid](const Entry& e) { return e.aid == aid; });
}

const Entry* find(const VerifyingKey& key) {
    return find_key(key);
}

void remember(std::string_view aid, const VerifyingKey& key) {
    enter(aid, key);
}

Entry& entry(const VerifyingKey& key) {
    if (Entry* known = find_key(key)) return *known;
    return enter({}, key);
}

}  // namespace vesk::recent_keys
