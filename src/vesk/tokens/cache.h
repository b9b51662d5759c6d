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
#include "vesk/tokens/verify.h"

namespace vesk {

// The SHA-256 of the exact token text.
using CacheKey = Digest;

class TctCache {
  public:
    // max_entries must be at least 1 (the binding refuses 0).
    explicit TctCache(std::uint64_t max_entries);

    // Entries are shared and immutable, so a hit hands out the cached identity without copying.
    std::shared_ptr<const VerifiedIdentity> lookup(const CacheKey& key) const;
    // Replaces an existing entry in place (keeping its age), or appends a new one and evicts the
    // oldest entries beyond capacity.
    void insert(const CacheKey& key, std::shared_ptr<const VerifiedIdentity> value);
    std::size_t size() const;
    void clear();

  private:
    struct KeyHash {
        std::size_t operator()(const CacheKey& key) const;
    };

    std::uint64_t max_entries_;
    mutable std::mutex mutex_;
    std::deque<CacheKey> order_;
    std::unordered_map<CacheKey, std::shared_ptr<const VerifiedIdentity>, KeyHash> entries_;
};

// verify_tct_for_agent with the cache consulted first. A byte-identical token verified before
// is answered from the cache, without the signature check, when it is not revoked, was verified
// for the same audience, has not reached its expiry and carries the grant; every other call
// verifies in full and records a success.
std::expected<std::shared_ptr<const TctIdentity>, TctCheckError> verify_tct_cached(
    TctCache& cache, const Aid& own_aid, std::string_view token, std::string_view required_grant,
    std::optional<std::string_view> expected_audience, const RevokedJtiSet* revoked,
    std::int64_t now);

}  // namespace vesk
