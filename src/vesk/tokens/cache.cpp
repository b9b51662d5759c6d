#include "vesk/tokens/cache.h"

#include <cstring>

namespace vesk {

std::size_t TctCache::KeyHash::operator()(const CacheKey& key) const noexcept {
    // The key is already a uniform digest: its first bytes are a good hash.
    std::size_t hash;
    std::memcpy(&hash, key.data(), sizeof hash);
    return hash;
}

TctCache::TctCache(std::uint64_t max_entries) : max_entries_(max_entries) {}

std::shared_ptr<const CachedTct> TctCache::lookup(const CacheKey& key) const {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(key);
    if (found == entries_.end()) return nullptr;
    return found->second;
}

void TctCache::insert(const CacheKey& key, std::shared_ptr<const CachedTct> value) {
    std::lock_guard lock(mutex_);
    auto [slot, added] = entries_.try_emplace(key, std::move(value));
    if (!added) {
        slot->second = std::move(value);
        return;
    }
    order_.push_back(key);
    while (entries_.size() > max_entries_) {
        entries_.erase(order_.front());
        order_.pop_front();
    }
}

std::size_t TctCache::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void TctCache::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    order_.clear();
}

}  // namespace vesk
