#include "vesk/tokens/cache.h"

#include <algorithm>

#include "vesk/core/keyed_hash.h"

namespace vesk {

// Anyone able to mint tokens can grind digests that share their first bytes, so the digest is
// hashed again under the process's secret.
std::size_t TctCache::KeyHash::operator()(const CacheKey& key) const {
    return KeyedHash{}(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
}

TctCache::TctCache(std::uint64_t max_entries) : max_entries_(max_entries) {}

std::shared_ptr<const VerifiedIdentity> TctCache::lookup(const CacheKey& key) const {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(key);
    if (found == entries_.end()) return nullptr;
    return found->second;
}

void TctCache::insert(const CacheKey& key, std::shared_ptr<const VerifiedIdentity> value) {
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

std::expected<std::shared_ptr<const TctIdentity>, TctCheckError> verify_tct_cached(
    TctCache& cache, const Aid& own_aid, std::string_view token, std::string_view required_grant,
    std::optional<std::string_view> expected_audience, const RevokedJtiSet* revoked,
    std::int64_t now) {
    const CacheKey key = sha256(token);
    const std::string_view audience = expected_audience ? *expected_audience : own_aid.as_str();
    if (auto hit = cache.lookup(key)) {
        const TctIdentity& cached = hit->identity;
        // An entry whose exp equals now goes the full way, which still accepts it.
        if ((!revoked || !revoked->contains(cached.jti)) && hit->aud == audience &&
            cached.expires_at > now &&
            std::ranges::find(cached.grants, required_grant) != cached.grants.end()) {
            return std::shared_ptr<const TctIdentity>(hit, &cached);
        }
    }
    auto verified =
        verify_tct_for_agent(own_aid, token, required_grant, expected_audience, revoked, now);
    if (!verified) return std::unexpected(std::move(verified.error()));
    auto entry = std::make_shared<const VerifiedIdentity>(std::move(*verified));
    cache.insert(key, entry);
    return std::shared_ptr<const TctIdentity>(entry, &entry->identity);
}

}  // namespace vesk
