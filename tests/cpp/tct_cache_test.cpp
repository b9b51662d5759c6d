#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "vesk/tokens/cache.h"

namespace vesk {
namespace {

std::shared_ptr<const VerifiedIdentity> entry(std::string jti) {
    return std::make_shared<const VerifiedIdentity>(
        VerifiedIdentity{{"aid:x", {"read"}, std::move(jti), 10}, "aud"});
}

TEST(TctCache, EvictsFirstInFirstOutByFirstInsertion) {
    TctCache cache(2);
    const auto a = sha256("a"), b = sha256("b"), c = sha256("c");
    cache.insert(a, entry("a"));
    cache.insert(b, entry("b"));
    cache.insert(a, entry("a2"));  // replaced in place: keeps its age
    EXPECT_EQ(cache.lookup(a)->identity.jti, "a2");
    cache.insert(c, entry("c"));
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.lookup(a), nullptr);
    EXPECT_EQ(cache.lookup(b)->identity.jti, "b");
    EXPECT_EQ(cache.lookup(c)->identity.jti, "c");
}

TEST(TctCache, SingleEntryStoreKeepsOnlyTheLatest) {
    TctCache cache(1);
    cache.insert(sha256("a"), entry("a"));
    cache.insert(sha256("b"), entry("b"));
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache.lookup(sha256("a")), nullptr);
    cache.insert(sha256("a"), entry("a"));
    EXPECT_EQ(cache.lookup(sha256("b")), nullptr);
}

TEST(TctCache, ClearEmptiesEntriesAndOrder) {
    TctCache cache(2);
    cache.insert(sha256("a"), entry("a"));
    cache.insert(sha256("b"), entry("b"));
    cache.clear();
    EXPECT_EQ(cache.size(), 0u);
    // The queue was emptied too: two fresh inserts fit without evicting each other.
    cache.insert(sha256("c"), entry("c"));
    cache.insert(sha256("d"), entry("d"));
    EXPECT_NE(cache.lookup(sha256("c")), nullptr);
    EXPECT_NE(cache.lookup(sha256("d")), nullptr);
}

TEST(TctCache, StaysBoundedUnderConcurrentInserts) {
    TctCache cache(64);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < 500; ++i) {
                const auto key = sha256(std::to_string(t * 1000 + i));
                cache.insert(key, entry("x"));
                (void)cache.lookup(key);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(cache.size(), 64u);
}

}  // namespace
}  // namespace vesk
