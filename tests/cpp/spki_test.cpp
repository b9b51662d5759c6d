#include "vesk/pinning/spki.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>
#include <string>

namespace vesk::pinning {
namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

KeyPtr make_key(const std::string& kind) {
    EVP_PKEY* key = nullptr;
    if (kind == "rsa") key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048});
    if (kind == "p256") key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (kind == "ed25519") key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (key == nullptr) ADD_FAILURE() << "key generation failed for " << kind;
    return KeyPtr(key, &EVP_PKEY_free);
}

Bytes der_of(X509* cert) {
    Bytes der(static_cast<std::size_t>(i2d_X509(cert, nullptr)));
    unsigned char* out = der.data();
    i2d_X509(cert, &out);
    return der;
}

struct CertOptions {
    long version = 2;  // 0 leaves the version field out
    long serial = 1;
    const char* name = "vesk test peer";
    long not_after_days = 30;  // negative: already expired
};

// A self-signed certificate for `key`.
Bytes make_cert(EVP_PKEY* key, const CertOptions& options = {}) {
    CertPtr cert(X509_new(), &X509_free);
    X509_set_version(cert.get(), options.version);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), options.serial);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(options.name), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60L * 60 * 24 * 365);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), options.not_after_days * 60L * 60 * 24);
    X509_set_pubkey(cert.get(), key);
    const EVP_MD* md = EVP_PKEY_get_id(key) == EVP_PKEY_ED25519 ? nullptr : EVP_sha256();
    if (X509_sign(cert.get(), key, md) == 0) ADD_FAILURE() << "certificate signing failed";
    return der_of(cert.get());
}

// The SubjectPublicKeyInfo as OpenSSL encodes it for the key.
Bytes spki_of(EVP_PKEY* key) {
    Bytes spki(static_cast<std::size_t>(i2d_PUBKEY(key, nullptr)));
    unsigned char* out = spki.data();
    i2d_PUBKEY(key, &out);
    return spki;
}

SpkiHash sha256(const Bytes& bytes) {
    SpkiHash digest{};
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), nullptr, EVP_sha256(), nullptr);
    return digest;
}

SpkiHash expected_hash(EVP_PKEY* key) {
    return sha256(spki_of(key));
}

// Where the key's SubjectPublicKeyInfo starts inside the certificate.
std::size_t spki_offset(const Bytes& cert, const Bytes& spki) {
    auto found = std::ranges::search(cert, spki);
    if (found.empty()) ADD_FAILURE() << "SubjectPublicKeyInfo not found in the certificate";
    return static_cast<std::size_t>(found.begin() - cert.begin());
}

Bytes bytes_of(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string error_text(std::span<const std::uint8_t> der) {
    auto hash = compute_spki_hash(der);
    return hash ? "ok" : hash.error().text();
}

class SpkiHashByKeyType : public testing::TestWithParam<std::string> {};

TEST_P(SpkiHashByKeyType, HashesTheSubjectPublicKeyInfoWhateverElseTheCertificateSays) {
    KeyPtr key = make_key(GetParam());
    SpkiHash want = expected_hash(key.get());

    EXPECT_EQ(compute_spki_hash(make_cert(key.get())), want);
    // Another certificate for the same key: other serial and name, expired, no version field.
    Bytes expired_v1 =
        make_cert(key.get(), {.version = 0, .serial = 77, .name = "other", .not_after_days = -10});
    EXPECT_EQ(compute_spki_hash(expired_v1), want);

    KeyPtr other = make_key(GetParam());
    EXPECT_NE(compute_spki_hash(make_cert(other.get())), want);
}

INSTANTIATE_TEST_SUITE_P(KeyTypes, SpkiHashByKeyType, testing::Values("rsa", "p256", "ed25519"));

TEST(SpkiHash, IgnoresBytesAfterTheCertificate) {
    KeyPtr key = make_key("ed25519");
    Bytes cert = make_cert(key.get());
    for (Bytes tail : {Bytes{0x00}, bytes_of("trailing garbage"), cert}) {
        Bytes padded = cert;
        padded.insert(padded.end(), tail.begin(), tail.end());
        EXPECT_EQ(compute_spki_hash(padded), expected_hash(key.get()));
    }
}

TEST(SpkiHash, HashesTheKeyBytesAsTheyStandNotARencoding) {
    KeyPtr key = make_key("ed25519");
    Bytes spki = spki_of(key.get());
    Bytes cert = make_cert(key.get(), {.name = "t"});
    std::size_t at = spki_offset(cert, spki);
    // Rewrite the key's length 0x2a in the long form 0x81 0x2a, which the parser accepts; the
    // certificate (0x81 form) and TBS (short form) lengths each grow by one.
    ASSERT_EQ(cert[1], 0x81);
    ASSERT_LT(cert[4], 0x7f);
    ASSERT_EQ(spki[1], 0x2a);
    Bytes long_form = spki;
    long_form.insert(long_form.begin() + 1, 0x81);
    Bytes rewritten = cert;
    rewritten.erase(rewritten.begin() + static_cast<long>(at),
                    rewritten.begin() + static_cast<long>(at + spki.size()));
    rewritten.insert(rewritten.begin() + static_cast<long>(at), long_form.begin(), long_form.end());
    rewritten[2] += 1;
    rewritten[4] += 1;
    EXPECT_EQ(compute_spki_hash(rewritten), sha256(long_form));

    // A key the parser cannot decode (a point off the curve) is still hashed.
    KeyPtr ec = make_key("p256");
    Bytes ec_spki = spki_of(ec.get());
    Bytes ec_cert = make_cert(ec.get());
    std::size_t ec_at = spki_offset(ec_cert, ec_spki);
    ec_spki.back() ^= 0xff;
    ec_cert[ec_at + ec_spki.size() - 1] ^= 0xff;
    EXPECT_EQ(compute_spki_hash(ec_cert), sha256(ec_spki));
}

TEST(SpkiHash, RefusesWhatIsNotACertificate) {
    KeyPtr key = make_key("p256");
    Bytes cert = make_cert(key.get());
    Bytes truncated(cert.begin(), cert.end() - 1);
    // The same certificate with an indefinite outer length, which DER forbids.
    Bytes indefinite{0x30, 0x80};
    indefinite.insert(indefinite.end(), cert.begin() + 4, cert.end());
    indefinite.insert(indefinite.end(), {0x00, 0x00});
    ASSERT_EQ(cert[1], 0x82);

    for (const Bytes& input :
         {Bytes{}, bytes_of("not a certificate"), Bytes{0x30, 0x00},
          Bytes{0x30, 0x84, 0xff, 0xff, 0xff, 0xff}, truncated, spki_of(key.get()), indefinite}) {
        auto hash = compute_spki_hash(input);
        ASSERT_FALSE(hash) << "input of " << input.size() << " bytes";
        EXPECT_EQ(hash.error().kind, PinningError::Kind::Certificate);
        EXPECT_FALSE(hash.error().text().empty());
    }
    EXPECT_EQ(error_text(Bytes{0x02, 0x01, 0x00}), "wrong tag");
    EXPECT_EQ(error_text(indefinite), "certificate is not DER-encoded");
}

TEST(SpkiPinVerifier, KeepsPinsInOrderWithDuplicates) {
    Bytes a(32, 0xaa), b(32, 0xbb);
    auto verifier = SpkiPinVerifier::create(std::vector<Bytes>{b, a, b});
    ASSERT_TRUE(verifier);
    EXPECT_EQ(verifier->len(), 3u);
    EXPECT_EQ(verifier->pins()[0][0], 0xbb);
    EXPECT_EQ(verifier->pins()[1][0], 0xaa);
    EXPECT_EQ(verifier->pins()[2], verifier->pins()[0]);
}

TEST(SpkiPinVerifier, RefusesTheFirstPinOfTheWrongLength) {
    struct Case {
        std::vector<Bytes> pins;
        std::string text;
    };
    for (const Case& c : {
             Case{{Bytes(31)}, "pin at index 0 must be exactly 32 bytes (got 31)"},
             Case{{Bytes(32), Bytes(33), Bytes(0)},
                  "pin at index 1 must be exactly 32 bytes (got 33)"},
             Case{{Bytes(32), Bytes(32), Bytes{}},
                  "pin at index 2 must be exactly 32 bytes (got 0)"},
         }) {
        auto verifier = SpkiPinVerifier::create(c.pins);
        ASSERT_FALSE(verifier);
        EXPECT_EQ(verifier.error().kind, PinningError::Kind::PinLength);
        EXPECT_EQ(verifier.error().text(), c.text);
    }
}

TEST(SpkiPinVerifier, AnswersWhetherTheCertificateKeyIsPinned) {
    KeyPtr key = make_key("rsa");
    Bytes cert = make_cert(key.get());
    SpkiHash hash = expected_hash(key.get());
    Bytes pin(hash.begin(), hash.end());
    Bytes near_miss = pin;
    near_miss.back() ^= 0x01;

    auto empty = SpkiPinVerifier::create({});
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->len(), 0u);
    EXPECT_EQ(empty->is_pinned(cert), false);

    auto others = SpkiPinVerifier::create(std::vector<Bytes>{near_miss, Bytes(32)});
    EXPECT_EQ(others->is_pinned(cert), false);

    auto last = SpkiPinVerifier::create(std::vector<Bytes>{near_miss, Bytes(32), pin});
    EXPECT_EQ(last->is_pinned(cert), true);

    auto garbage = last->is_pinned(bytes_of("not a certificate"));
    ASSERT_FALSE(garbage);
    EXPECT_EQ(garbage.error().kind, PinningError::Kind::Certificate);
}

}  // namespace
}  // namespace vesk::pinning
