// A bounded, first-in first-out cache of successful TCT verifications, keyed by the
// SHA-256 of the exact token text. Thread-safe: one mutex guards the whole cache.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vesk/crypto/sha256.h"
#include "vesk/tokens/identity.h"

namespace vesk {

// The SHA-256 of the exact token text.
using CacheKey = Digest;

// What one successful full verification leaves behind. Entries are shared and immutable, so a
// hit hands out the cached identity without copying it.
struct CachedTct {
    TctIdentity identity;
    std::string aud;
};

class TctCache {
  public:
    // max_entries must be at least 1 (the binding refuses 0).
    explicit TctCache(std::uint64_t max_entries);

    std::shared_ptr<const CachedTct> lookup(const CacheKey& key) const;
    // Replaces an existing entry in place (keeping its age), or appends a new one and evicts the
    // oldest entries beyond capacity.
    void insert(const CacheKey& key, std::shared_ptr<const CachedTct> value);
    std::size_t size() const;
    void clear();

    std::uint64_t max_entries() const { return max_entries_; }

  private:
    struct KeyHash {
        std::size_t operator()(const CacheKey& key) const noexcept;
    };

    std::uint64_t max_entries_;
    mutable std::mutex mutex_;
    std::deque<CacheKey> order_;
    std::unordered_map<CacheKey, std::shared_ptr<const CachedTct>, KeyHash> entries_;
};

}  // namespace vesk
