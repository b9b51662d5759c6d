#include "vesk/handshake/jwks.h"

#include <exception>

namespace vesk::handshake {
namespace {

constexpr std::string_view kPoisoned =
    "jwks mutex poisoned: poisoned lock: another task failed inside";

}  // namespace

// Holds the mutex; leaving its scope by an exception marks the store poisoned.
class JwksStore::Lock {
  public:
    explicit Lock(const JwksStore& store)
        : store_(store), lock_(store.mutex_), exceptions_(std::uncaught_exceptions()) {}
    ~Lock() {
        if (std::uncaught_exceptions() > exceptions_) store_.poisoned_ = true;
    }
    bool poisoned() const { return store_.poisoned_; }

  private:
    const JwksStore& store_;
    std::lock_guard<std::mutex> lock_;
    int exceptions_;
};

std::expected<std::vector<Jwk>, JwksResolveError> NoJwksResolver::resolve(const Url&) const {
    return std::unexpected(
        JwksResolveError{JwksResolveError::Kind::Resolve,
                         "no JWKS resolver configured for this session (pinned-key only)"});
}

std::expected<void, JwksStore::Poisoned> JwksStore::upsert(const Url& issuer,
                                                           std::vector<Jwk> keys) {
    std::string key = issuer.href();
    Lock lock(*this);
    if (lock.poisoned()) return std::unexpected(Poisoned(kPoisoned));
    keys_.insert_or_assign(std::move(key), std::move(keys));
    return {};
}

std::expected<void, JwksStore::Poisoned> JwksStore::remove(std::string_view issuer) {
    Lock lock(*this);
    if (lock.poisoned()) return std::unexpected(Poisoned(kPoisoned));
    if (auto found = keys_.find(issuer); found != keys_.end()) keys_.erase(found);
    return {};
}

std::expected<std::vector<std::string>, JwksStore::Poisoned> JwksStore::issuers() const {
    Lock lock(*this);
    if (lock.poisoned()) return std::unexpected(Poisoned(kPoisoned));
    std::vector<std::string> out;
    out.reserve(keys_.size());
    for (const auto& [issuer, _] : keys_) out.push_back(issuer);
    return out;
}

std::expected<std::vector<Jwk>, JwksResolveError> JwksStore::resolve(const Url& issuer) const {
    std::string key = issuer.href();
    Lock lock(*this);
    if (lock.poisoned()) {
        return std::unexpected(
            JwksResolveError{JwksResolveError::Kind::Resolve, std::string(kPoisoned)});
    }
    auto found = keys_.find(key);
    if (found == keys_.end() || found->second.empty()) {
        return std::unexpected(
            JwksResolveError{JwksResolveError::Kind::IssuerNotTrusted, std::move(key)});
    }
    return found->second;
}

}  // namespace vesk::handshake
