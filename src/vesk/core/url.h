// Absolute URL parsing and serialisation following the WHATWG URL Standard (no base URL).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

struct UrlError {
    enum class Kind {
        RelativeUrlWithoutBase,
        EmptyHost,
        InvalidPort,
        InvalidIpv4Address,
        InvalidIpv6Address,
        InvalidDomainCharacter,
        IdnaError,
    };
    Kind kind;

    std::string text() const;
    bool operator==(const UrlError&) const = default;
};

struct UrlHost {
    enum class Kind { Domain, Ipv4, Ipv6, Opaque, Empty };
    Kind kind;
    // Serialised form: the ASCII domain, dotted-decimal IPv4, bracketed IPv6, the percent-encoded
    // opaque host, or "" for the empty host.
    std::string text;

    bool operator==(const UrlHost&) const = default;
};

struct Url {
    std::string scheme;  // lower case, without the ':'
    std::string username;
    std::string password;
    std::optional<UrlHost> host;
    std::optional<std::uint16_t> port;  // absent when it is the scheme's default
    bool has_opaque_path = false;
    std::string opaque_path;        // used when has_opaque_path
    std::vector<std::string> path;  // segments, used otherwise
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    bool is_special() const;
    std::string pathname() const;
    std::string href() const;
};

// Parses `input` (UTF-8) as an absolute URL.
std::expected<Url, UrlError> parse_url(std::string_view input);

// Parses a host as it appears between "//" and the port or path of a URL (percent-encoded
// forms allowed). `special` selects domain/IPv4 processing; otherwise the host is opaque.
std::expected<UrlHost, UrlError> parse_host(std::string_view input, bool special);

}  // namespace vesk
