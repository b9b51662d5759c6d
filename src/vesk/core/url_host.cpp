// Host parsing: IPv6, opaque hosts, domains (IDNA through ICU) and IPv4 in its number forms.
#include <unicode/uidna.h>

#include <array>
#include <charconv>
#include <memory>
#include <optional>

#include "vesk/core/fault.h"
#include "vesk/core/url.h"
#include "vesk/core/url_codec.h"

namespace vesk {

using namespace url_detail;

namespace {

using Ipv6 = std::array<std::uint16_t, 8>;

std::unexpected<UrlError> fail(UrlError::Kind kind) {
    return std::unexpected(UrlError{kind});
}

std::optional<Ipv6> parse_ipv6(std::string_view input) {
    Ipv6 address{};
    std::size_t piece = 0, p = 0;
    std::optional<std::size_t> compress;
    auto at = [&](std::size_t i) -> char { return i < input.size() ? input[i] : '\0'; };
    auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    if (at(p) == ':') {
        if (at(p + 1) != ':') return std::nullopt;
        p += 2;
        compress = ++piece;
    }
    while (p < input.size()) {
        if (piece == 8) return std::nullopt;
        if (at(p) == ':') {
            if (compress) return std::nullopt;
            ++p;
            compress = ++piece;
            continue;
        }
        unsigned value = 0, length = 0;
        while (length < 4 && p < input.size() && is_ascii_hex_digit(at(p))) {
            value = value * 16 + digit(at(p));
            ++p, ++length;
        }
        if (at(p) == '.') {
            // An embedded IPv4 address fills the last two pieces.
            if (length == 0 || piece > 6) return std::nullopt;
            p -= length;
            int numbers_seen = 0;
            while (p < input.size()) {
                if (numbers_seen > 0) {
                    if (at(p) != '.' || numbers_seen >= 4) return std::nullopt;
                    ++p;
                }
                if (!is_ascii_digit(at(p))) return std::nullopt;
                std::optional<unsigned> number;
                while (is_ascii_digit(at(p))) {
                    unsigned d = at(p) - '0';
                    if (!number) {
                        number = d;
                    } else if (*number == 0) {
                        return std::nullopt;
                    } else {
                        number = *number * 10 + d;
                    }
                    if (*number > 255) return std::nullopt;
                    ++p;
                }
                address[piece] = static_cast<std::uint16_t>(address[piece] * 0x100 + *number);
                ++numbers_seen;
                if (numbers_seen == 2 || numbers_seen == 4) ++piece;
            }
            if (numbers_seen != 4) return std::nullopt;
            break;
        }
        if (at(p) == ':') {
            ++p;
            if (p == input.size()) return std::nullopt;
        } else if (p < input.size()) {
            return std::nullopt;
        }
        address[piece++] = static_cast<std::uint16_t>(value);
    }
    if (compress) {
        std::size_t swaps = piece - *compress;
        for (piece = 7; piece != 0 && swaps > 0; --piece, --swaps) {
            std::swap(address[piece], address[*compress + swaps - 1]);
        }
    } else if (piece != 8) {
        return std::nullopt;
    }
    return address;
}

std::string serialize_ipv6(const Ipv6& address) {
    // Compress the first longest run of two or more zero pieces.
    std::optional<std::size_t> compress;
    std::size_t best = 1;
    for (std::size_t i = 0; i < 8;) {
        std::size_t j = i;
        while (j < 8 && address[j] == 0) ++j;
        if (j - i > best) {
            best = j - i;
            compress = i;
        }
        i = j == i ? i + 1 : j;
    }
    std::string out = "[";
    for (std::size_t i = 0; i < 8; ++i) {
        if (compress && i == *compress) {
            out += i == 0 ? "::" : ":";
            i += best - 1;
            continue;
        }
        char digits[4];
        auto end = std::to_chars(digits, digits + 4, address[i], 16).ptr;
        out.append(digits, end);
        if (i != 7) out.push_back(':');
    }
    out.push_back(']');
    return out;
}

// Parses one dotted part in decimal, octal ("0" prefix) or hex ("0x" prefix); values beyond
// 32 bits saturate, which every caller rejects.
std::optional<std::uint64_t> parse_ipv4_number(std::string_view part) {
    if (part.empty()) return std::nullopt;
    unsigned radix = 10;
    if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
        part.remove_prefix(2);
        radix = 16;
    } else if (part.size() >= 2 && part[0] == '0') {
        part.remove_prefix(1);
        radix = 8;
    }
    std::uint64_t value = 0;
    for (char c : part) {
        unsigned d;
        if (is_ascii_digit(c)) {
            d = c - '0';
        } else if (radix == 16 && is_ascii_hex_digit(c)) {
            d = (c | 0x20) - 'a' + 10;
        } else {
            return std::nullopt;
        }
        if (d >= radix) return std::nullopt;
        value = std::min<std::uint64_t>(value * radix + d, std::uint64_t{1} << 40);
    }
    return value;
}

std::vector<std::string_view> split_dots(std::string_view input) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        auto dot = input.find('.', start);
        parts.push_back(input.substr(start, dot == input.npos ? input.npos : dot - start));
        if (dot == input.npos) return parts;
        start = dot + 1;
    }
}

bool ends_in_number(std::string_view domain) {
    auto parts = split_dots(domain);
    if (parts.back().empty()) {
        if (parts.size() == 1) return false;
        parts.pop_back();
    }
    auto last = parts.back();
    if (!last.empty() && last.find_first_not_of("0123456789") == last.npos) return true;
    return parse_ipv4_number(last).has_value();
}

std::expected<UrlHost, UrlError> parse_ipv4(std::string_view domain) {
    auto parts = split_dots(domain);
    if (parts.back().empty() && parts.size() > 1) parts.pop_back();
    if (parts.size() > 4) return fail(UrlError::Kind::InvalidIpv4Address);
    std::vector<std::uint64_t> numbers;
    for (auto part : parts) {
        auto number = parse_ipv4_number(part);
        if (!number) return fail(UrlError::Kind::InvalidIpv4Address);
        numbers.push_back(*number);
    }
    std::uint64_t address = numbers.back();
    if (address >= std::uint64_t{1} << (8 * (5 - numbers.size())))
        return fail(UrlError::Kind::InvalidIpv4Address);
    for (std::size_t i = 0; i + 1 < numbers.size(); ++i) {
        if (numbers[i] > 255) return fail(UrlError::Kind::InvalidIpv4Address);
        address += numbers[i] << (8 * (3 - i));
    }
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += std::to_string((address >> shift) & 0xFF);
        if (shift != 0) text.push_back('.');
    }
    return UrlHost{UrlHost::Kind::Ipv4, text};
}

bool is_forbidden_host_char(char c) {
    return c == '\0' || std::string_view("\t\n\r #/:<>?@[\\]^|").find(c) != std::string_view::npos;
}

bool is_forbidden_domain_char(char c) {
    auto byte = static_cast<unsigned char>(c);
    return is_forbidden_host_char(c) || byte <= 0x1F || c == '%' || byte == 0x7F;
}

std::expected<UrlHost, UrlError> parse_opaque_host(std::string_view input) {
    for (char c : input) {
        if (is_forbidden_host_char(c)) return fail(UrlError::Kind::InvalidDomainCharacter);
    }
    std::string text;
    for (char32_t c : decode_utf8(input)) append_encoded(text, c, EncodeSet::C0Control);
    return UrlHost{input.empty() ? UrlHost::Kind::Empty : UrlHost::Kind::Opaque, text};
}

const UIDNA* uts46() {
    static const std::unique_ptr<UIDNA, decltype(&uidna_close)> idna = [] {
        UErrorCode status = U_ZERO_ERROR;
        UIDNA* opened =
            uidna_openUTS46(UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ |
                                UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE,
                            &status);
        if (U_FAILURE(status)) fault(std::string("ICU IDNA unavailable: ") + u_errorName(status));
        return std::unique_ptr<UIDNA, decltype(&uidna_close)>(opened, uidna_close);
    }();
    return idna.get();
}

// UTS #46 ToASCII with hyphen and DNS length checks off. ASCII input is only lower-cased.
std::optional<std::string> domain_to_ascii(const std::string& domain) {
    bool ascii = true;
    for (char c : domain) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        std::string lower = domain;
        for (char& c : lower) c = static_cast<char>(ascii_lower(c));
        return lower;
    }
    if (domain.size() > 0x7FFFFFFF / 4) return std::nullopt;
    constexpr std::uint32_t ignored =
        UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG | UIDNA_ERROR_DOMAIN_NAME_TOO_LONG |
        UIDNA_ERROR_LEADING_HYPHEN | UIDNA_ERROR_TRAILING_HYPHEN | UIDNA_ERROR_HYPHEN_3_4;
    std::string out(domain.size() * 4 + 64, '\0');
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        UIDNAInfo info = UIDNA_INFO_INITIALIZER;
        int32_t length =
            uidna_nameToASCII_UTF8(uts46(), domain.data(), static_cast<int32_t>(domain.size()),
                                   out.data(), static_cast<int32_t>(out.size()), &info, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(static_cast<std::size_t>(length));
            continue;
        }
        // ICU refuses some input outright (a label of over 1,000 code points, for one):
        // that is a domain it cannot convert, like any other.
        if (U_FAILURE(status) || (info.errors & ~ignored) != 0) return std::nullopt;
        out.resize(static_cast<std::size_t>(length));
        return out;
    }
}

}  // namespace

std::expected<UrlHost, UrlError> parse_host(std::string_view input, bool special) {
    if (input.starts_with('[')) {
        if (!input.ends_with(']')) return fail(UrlError::Kind::InvalidIpv6Address);
        auto address = parse_ipv6(input.substr(1, input.size() - 2));
        if (!address) return fail(UrlError::Kind::InvalidIpv6Address);
        return UrlHost{UrlHost::Kind::Ipv6, serialize_ipv6(*address)};
    }
    if (!special) return parse_opaque_host(input);
    auto ascii = domain_to_ascii(percent_decode(input));
    if (!ascii) return fail(UrlError::Kind::IdnaError);
    for (char c : *ascii) {
        if (is_forbidden_domain_char(c)) return fail(UrlError::Kind::IdnaError);
    }
    if (ascii->empty()) return fail(UrlError::Kind::EmptyHost);
    if (ends_in_number(*ascii)) return parse_ipv4(*ascii);
    return UrlHost{UrlHost::Kind::Domain, *ascii};
}

}  // namespace vesk
