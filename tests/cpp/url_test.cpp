#include "vesk/core/url.h"

#include <gtest/gtest.h>
#include <unicode/uversion.h>

#include <optional>

#include "test_data.h"
#include "vesk/core/json_reader.h"

namespace vesk {
namespace {

json::Array read_vectors(const std::string& name) {
    return test::elements(test::load_json("url/" + name));
}

// The string member `key` of a vector object, or nothing when absent or not a string.
std::optional<std::string> text_of(const json::Value& test, std::string_view key) {
    const auto* object = test.as_object();
    const auto* member = object ? object->find(key) : nullptr;
    if (!member || !member->as_string()) return std::nullopt;
    return std::string(*member->as_string());
}

bool has_member(const json::Value& test, std::string_view key) {
    return test.as_object() && test.as_object()->find(key);
}

std::string describe(const std::expected<Url, UrlError>& url) {
    return url ? "href " + url->href() : "failure (" + url.error().text() + ")";
}

// A case with a base is kept when its input is absolute and the base cannot be consulted:
// the scheme is not special (such inputs never look at a base), or it differs from the base's
// scheme (special inputs only resolve against a base of their own scheme). Cases whose base
// itself fails to parse are left out, since they expect failure whatever the input.
bool base_is_irrelevant(const std::string& input, const std::string& base) {
    auto parsed_base = parse_url(base);
    if (!parsed_base) return false;
    std::string scheme;
    std::size_t i = 0;
    while (i < input.size() && static_cast<unsigned char>(input[i]) <= 0x20) ++i;
    for (; i < input.size(); ++i) {
        char c = input[i];
        if (c == '\t' || c == '\n' || c == '\r') continue;
        if (std::isalpha(static_cast<unsigned char>(c)) ||
            (!scheme.empty() &&
             (std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'))) {
            scheme.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
            continue;
        }
        if (c != ':' || scheme.empty()) return false;
        Url probe;
        probe.scheme = scheme;
        return !probe.is_special() || scheme != parsed_base->scheme;
    }
    return false;
}

TEST(Url, WebPlatformVectorsWithoutBase) {
    int run = 0, failed = 0;
    for (const auto& test : read_vectors("urltestdata.json")) {
        const auto input = text_of(test, "input");
        if (!input) continue;  // section comment
        const auto base = text_of(test, "base");
        if (base && !base_is_irrelevant(*input, *base)) continue;
        ++run;
        auto url = parse_url(*input);
        bool expect_failure = has_member(test, "failure");
        std::string expected = expect_failure ? "failure" : "href " + *text_of(test, "href");
        std::string actual = describe(url);
        if (expect_failure ? url.has_value() : actual != expected) {
            ++failed;
            std::cout << "FAIL " << *input << " -> " << actual << ", expected " << expected << "\n";
        } else if (url) {
            // The parsed components agree with the vector's accessors.
            EXPECT_EQ(url->scheme + ":", *text_of(test, "protocol")) << *input;
            EXPECT_EQ(url->host ? url->host->text : "", *text_of(test, "hostname")) << *input;
            EXPECT_EQ(url->port ? std::to_string(*url->port) : "", *text_of(test, "port"))
                << *input;
            EXPECT_EQ(url->pathname(), *text_of(test, "pathname")) << *input;
        }
    }
    std::cout << "urltestdata: " << run - failed << "/" << run << " passed\n";
    EXPECT_GT(run, 550);
    EXPECT_EQ(failed, 0);
}

// Code points whose UTS #46 status changed in Unicode 15.1 and 16.0: ICU before 76 still has
// the 15.0 tables, which disallow the first five and map U+1E9E to "ss".
bool table_predates_vector(const std::string& input) {
    if (U_ICU_VERSION_MAJOR_NUM >= 76) return false;
    for (const char* changed : {"\u180e", "\u206b", "\u04c0", "\U0002f868", "\u2183", "\u1e9e"}) {
        if (input.find(changed) != input.npos) return true;
    }
    return false;
}

TEST(Url, DomainToAsciiVectors) {
    int run = 0, failed = 0, known = 0;
    for (const auto& test : read_vectors("toascii.json")) {
        const auto input = text_of(test, "input");
        if (!input) continue;
        ++run;
        auto url = parse_url("https://" + *input + "/x");
        const auto output = text_of(test, "output");  // null: must fail
        std::string expected = output ? "host " + *output : "failure";
        std::string actual =
            url ? "host " + url->host->text : "failure (" + url.error().text() + ")";
        bool ok = output ? actual == expected : !url;
        // A valid output is itself a host that parses to the same text.
        if (ok && output) ok = parse_host(*output, true).value().text == *output;
        if (!ok) {
            bool old_table = table_predates_vector(*input);
            ++(old_table ? known : failed);
            std::cout << (old_table ? "KNOWN (ICU " U_ICU_VERSION " tables) " : "FAIL ") << *input
                      << " -> " << actual << ", expected " << expected << "\n";
        }
    }
    std::cout << "toascii: " << run - failed - known << "/" << run << " passed, " << known
              << " known table differences\n";
    EXPECT_EQ(run, 87);
    EXPECT_EQ(failed, 0);
}

TEST(Url, FailureTexts) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "relative URL without a base"},
        {"//example.com/", "relative URL without a base"},
        {"1http://x/", "relative URL without a base"},
        {"http:", "empty host"},
        {"http://?q", "empty host"},
        {"http://user@/", "empty host"},
        {"foo://:80", "empty host"},
        {"https://%C2%AD/", "empty host"},
        {"http://h:80a/", "invalid port number"},
        {"http://h:65536/", "invalid port number"},
        {"http://h:99999999999999999999/", "invalid port number"},
        {"http://1.2.3.4.5/", "invalid IPv4 address"},
        {"http://foo.1/", "invalid IPv4 address"},
        {"http://1.2.3.256/", "invalid IPv4 address"},
        {"http://999999999999/", "invalid IPv4 address"},
        {"http://0x100000000/", "invalid IPv4 address"},
        {"http://[::1/", "invalid IPv6 address"},
        {"http://[1:2:3:4:5:6:7:8:9]/", "invalid IPv6 address"},
        {"http://[::2:3:4:5:6:7:1.2.3.4]/", "invalid IPv6 address"},  // nine pieces
        {"http://[::1.2.3.04]/", "invalid IPv6 address"},
        {"http://[1::2::3]/", "invalid IPv6 address"},
        {"foo://a b/", "invalid domain character"},
        {"http://a b/", "invalid international domain name"},
        {"http://a%20b/", "invalid international domain name"},
        {"http://\xe2\x80\x8d.example/", "invalid international domain name"},
        {"http://%ff/", "invalid international domain name"},
    };
    for (const auto& [input, text] : cases) {
        auto url = parse_url(input);
        EXPECT_EQ(url ? "href " + url->href() : url.error().text(), text) << input;
    }
}

TEST(Url, KeepsComponents) {
    auto url = parse_url("HTTPS://User:P%40ss@[0:0::1]:8443/a/./b/../c?q=1 2#f g").value();
    EXPECT_EQ(url.scheme, "https");
    EXPECT_EQ(url.username, "User");
    EXPECT_EQ(url.password, "P%40ss");
    EXPECT_EQ(url.host, (UrlHost{UrlHost::Kind::Ipv6, "[::1]"}));
    EXPECT_EQ(url.port, 8443);
    EXPECT_EQ(url.path, (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(url.query, "q=1%202");
    EXPECT_EQ(url.fragment, "f%20g");
    EXPECT_EQ(url.href(), "https://User:P%40ss@[::1]:8443/a/c?q=1%202#f%20g");

    auto opaque = parse_url("mailto:a@b?subject=x").value();
    EXPECT_TRUE(opaque.has_opaque_path);
    EXPECT_FALSE(opaque.host.has_value());
    EXPECT_EQ(opaque.pathname(), "a@b");

    auto ipv4 = parse_url("http://0x7f.1:80").value();
    EXPECT_EQ(ipv4.host, (UrlHost{UrlHost::Kind::Ipv4, "127.0.0.1"}));
    EXPECT_FALSE(ipv4.port.has_value());
    EXPECT_EQ(ipv4.href(), "http://127.0.0.1/");

    EXPECT_EQ(parse_url("foo://").value().host, (UrlHost{UrlHost::Kind::Empty, ""}));
    EXPECT_EQ(parse_url("foo://h%C3%A9").value().host, (UrlHost{UrlHost::Kind::Opaque, "h%C3%A9"}));
    EXPECT_EQ(parse_url("http://\xc3\xa9.com").value().host,
              (UrlHost{UrlHost::Kind::Domain, "xn--9ca.com"}));
}

TEST(Url, IllFormedUtf8BecomesReplacementCharacter) {
    EXPECT_EQ(parse_url("http://h/\xff\xc3").value().href(), "http://h/%EF%BF%BD%EF%BF%BD");
    EXPECT_EQ(parse_url("foo:\xed\xa0\x80").value().href(), "foo:%EF%BF%BD%EF%BF%BD%EF%BF%BD");
}

}  // namespace
}  // namespace vesk
