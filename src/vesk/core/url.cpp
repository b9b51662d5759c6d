// The URL parsing state machine (without a base URL) and the href serialiser.
#include "vesk/core/url.h"

#include <algorithm>

#include "vesk/core/url_codec.h"
#include "vesk/core/utf8.h"

namespace vesk {

using namespace url_detail;

std::string UrlError::text() const {
    switch (kind) {
        case Kind::RelativeUrlWithoutBase:
            return "relative URL without a base";
        case Kind::EmptyHost:
            return "empty host";
        case Kind::InvalidPort:
            return "invalid port number";
        case Kind::InvalidIpv4Address:
            return "invalid IPv4 address";
        case Kind::InvalidIpv6Address:
            return "invalid IPv6 address";
        case Kind::InvalidDomainCharacter:
            return "invalid domain character";
        case Kind::IdnaError:
            return "invalid international domain name";
    }
    return "invalid URL";
}

namespace {

constexpr char32_t kEof = 0xFFFFFFFF;

std::optional<std::uint16_t> default_port(std::string_view scheme) {
    if (scheme == "http" || scheme == "ws") return 80;
    if (scheme == "https" || scheme == "wss") return 443;
    if (scheme == "ftp") return 21;
    return std::nullopt;
}

bool is_special_scheme(std::string_view scheme) {
    return scheme == "file" || default_port(scheme).has_value();
}

template <typename Text>
bool is_windows_drive_letter(const Text& text) {
    return text.size() == 2 && is_ascii_alpha(text[0]) && (text[1] == ':' || text[1] == '|');
}

bool is_single_dot(std::string_view segment) {
    return segment == "." || segment == "%2e" || segment == "%2E";
}

bool is_double_dot(std::string_view segment) {
    if (segment.size() != 2 && segment.size() != 4 && segment.size() != 6) return false;
    std::string lower(segment);
    std::ranges::transform(lower, lower.begin(), [](char c) { return ascii_lower(c); });
    return lower == ".." || lower == ".%2e" || lower == "%2e." || lower == "%2e%2e";
}

std::string to_utf8(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) append_utf8(out, c);
    return out;
}

// Strips leading and trailing C0 controls and spaces, and drops every tab and newline.
std::u32string preprocess(std::string_view input) {
    std::u32string text = decode_utf8(input);
    auto is_c0_or_space = [](char32_t c) { return c <= 0x20; };
    std::size_t first = 0, last = text.size();
    while (first < last && is_c0_or_space(text[first])) ++first;
    while (last > first && is_c0_or_space(text[last - 1])) --last;
    std::u32string out;
    for (auto i = first; i < last; ++i) {
        if (text[i] != '\t' && text[i] != '\n' && text[i] != '\r') out.push_back(text[i]);
    }
    return out;
}

enum class State {
    SchemeStart,
    Scheme,
    SpecialAuthoritySlashes,
    SpecialAuthorityIgnoreSlashes,
    PathOrAuthority,
    Authority,
    Host,
    Port,
    File,
    FileSlash,
    FileHost,
    PathStart,
    Path,
    OpaquePath,
    Query,
    Fragment,
};

class Parser {
  public:
    explicit Parser(std::string_view input) : input_(preprocess(input)) {}

    std::expected<Url, UrlError> run() {
        for (;;) {
            char32_t c =
                p_ >= 0 && static_cast<std::size_t>(p_) < input_.size() ? input_[p_] : kEof;
            if (auto error = step(c)) return std::unexpected(*error);
            if (static_cast<std::size_t>(p_) >= input_.size()) return std::move(url_);
            ++p_;
        }
    }

  private:
    std::u32string input_;
    std::ptrdiff_t p_ = 0;
    State state_ = State::SchemeStart;
    Url url_;
    std::u32string buffer_;
    std::string segment_;
    bool at_sign_seen_ = false, inside_brackets_ = false, password_token_seen_ = false;

    bool remaining_starts_with(char32_t c) const {
        auto next = static_cast<std::size_t>(p_ + 1);
        return next < input_.size() && input_[next] == c;
    }

    bool ends_component(char32_t c) const {
        return c == kEof || c == '/' || c == '?' || c == '#' || (url_.is_special() && c == '\\');
    }

    std::optional<UrlError> set_host() {
        auto host = parse_host(to_utf8(buffer_), url_.is_special());
        if (!host) return host.error();
        url_.host = std::move(*host);
        buffer_.clear();
        return std::nullopt;
    }

    void shorten_path() {
        auto& path = url_.path;
        if (url_.scheme == "file" && path.size() == 1 && path[0].size() == 2 &&
            is_ascii_alpha(path[0][0]) && path[0][1] == ':')
            return;
        if (!path.empty()) path.pop_back();
    }

    std::optional<UrlError> step(char32_t c) {
        using enum State;
        using Kind = UrlError::Kind;
        switch (state_) {
            case SchemeStart:
                if (is_ascii_alpha(c)) {
                    buffer_.push_back(ascii_lower(c));
                    state_ = Scheme;
                    return std::nullopt;
                }
                return UrlError{Kind::RelativeUrlWithoutBase};
            case Scheme:
                if (is_ascii_alpha(c) || is_ascii_digit(c) || c == '+' || c == '-' || c == '.') {
                    buffer_.push_back(ascii_lower(c));
                } else if (c == ':') {
                    url_.scheme = to_utf8(buffer_);
                    buffer_.clear();
                    if (url_.scheme == "file") {
                        state_ = File;
                    } else if (url_.is_special()) {
                        state_ = SpecialAuthoritySlashes;
                    } else if (remaining_starts_with('/')) {
                        state_ = PathOrAuthority;
                        ++p_;
                    } else {
                        url_.has_opaque_path = true;
                        state_ = OpaquePath;
                    }
                } else {
                    return UrlError{Kind::RelativeUrlWithoutBase};
                }
                return std::nullopt;
            case SpecialAuthoritySlashes:
                state_ = SpecialAuthorityIgnoreSlashes;
                if (c == '/' && remaining_starts_with('/')) {
                    ++p_;
                } else {
                    --p_;
                }
                return std::nullopt;
            case SpecialAuthorityIgnoreSlashes:
                if (c != '/' && c != '\\') {
                    state_ = Authority;
                    --p_;
                }
                return std::nullopt;
            case PathOrAuthority:
                if (c == '/') {
                    state_ = Authority;
                } else {
                    state_ = Path;
                    --p_;
                }
                return std::nullopt;
            case Authority:
                return authority(c);
            case Host:
                return host(c);
            case Port:
                return port(c);
            case File:
                url_.host = UrlHost{UrlHost::Kind::Empty, ""};
                if (c == '/' || c == '\\') {
                    state_ = FileSlash;
                } else {
                    state_ = Path;
                    --p_;
                }
                return std::nullopt;
            case FileSlash:
                if (c == '/' || c == '\\') {
                    state_ = FileHost;
                } else {
                    state_ = Path;
                    --p_;
                }
                return std::nullopt;
            case FileHost:
                return file_host(c);
            case PathStart:
                if (url_.is_special()) {
                    state_ = Path;
                    if (c != '/' && c != '\\') --p_;
                } else if (c == '?') {
                    url_.query.emplace();
                    state_ = Query;
                } else if (c == '#') {
                    url_.fragment.emplace();
                    state_ = Fragment;
                } else if (c != kEof) {
                    state_ = Path;
                    if (c != '/') --p_;
                }
                return std::nullopt;
            case Path:
                path(c);
                return std::nullopt;
            case OpaquePath:
                if (c == '?') {
                    url_.query.emplace();
                    state_ = Query;
                } else if (c == '#') {
                    url_.fragment.emplace();
                    state_ = Fragment;
                } else if (c == ' ' && (remaining_starts_with('?') || remaining_starts_with('#'))) {
                    // Keeps the space from looking like trailing whitespace once serialised.
                    url_.opaque_path += "%20";
                } else if (c != kEof) {
                    append_encoded(url_.opaque_path, c, EncodeSet::C0Control);
                }
                return std::nullopt;
            case Query:
                if (c == '#') {
                    url_.fragment.emplace();
                    state_ = Fragment;
                } else if (c != kEof) {
                    append_encoded(*url_.query, c,
                                   url_.is_special() ? EncodeSet::SpecialQuery : EncodeSet::Query);
                }
                return std::nullopt;
            case Fragment:
                if (c != kEof) append_encoded(*url_.fragment, c, EncodeSet::Fragment);
                return std::nullopt;
        }
        return std::nullopt;
    }

    std::optional<UrlError> authority(char32_t c) {
        if (c == '@') {
            if (at_sign_seen_) buffer_.insert(0, U"%40");
            at_sign_seen_ = true;
            for (char32_t b : buffer_) {
                if (b == ':' && !password_token_seen_) {
                    password_token_seen_ = true;
                    continue;
                }
                append_encoded(password_token_seen_ ? url_.password : url_.username, b,
                               EncodeSet::Userinfo);
            }
            buffer_.clear();
        } else if (ends_component(c)) {
            if (at_sign_seen_ && buffer_.empty()) return UrlError{UrlError::Kind::EmptyHost};
            p_ -= static_cast<std::ptrdiff_t>(buffer_.size()) + 1;
            buffer_.clear();
            state_ = State::Host;
        } else {
            buffer_.push_back(c);
        }
        return std::nullopt;
    }

    std::optional<UrlError> host(char32_t c) {
        if (c == ':' && !inside_brackets_) {
            if (buffer_.empty()) return UrlError{UrlError::Kind::EmptyHost};
            state_ = State::Port;
            return set_host();
        }
        if (ends_component(c)) {
            --p_;
            if (url_.is_special() && buffer_.empty()) return UrlError{UrlError::Kind::EmptyHost};
            state_ = State::PathStart;
            return set_host();
        }
        if (c == '[') inside_brackets_ = true;
        if (c == ']') inside_brackets_ = false;
        buffer_.push_back(c);
        return std::nullopt;
    }

    std::optional<UrlError> port(char32_t c) {
        if (is_ascii_digit(c)) {
            buffer_.push_back(c);
            return std::nullopt;
        }
        if (!ends_component(c)) return UrlError{UrlError::Kind::InvalidPort};
        if (!buffer_.empty()) {
            std::uint32_t value = 0;
            for (char32_t d : buffer_) {
                value = value * 10 + (d - '0');
                if (value > 65535) return UrlError{UrlError::Kind::InvalidPort};
            }
            auto port = static_cast<std::uint16_t>(value);
            if (port == default_port(url_.scheme)) {
                url_.port.reset();
            } else {
                url_.port = port;
            }
            buffer_.clear();
        }
        state_ = State::PathStart;
        --p_;
        return std::nullopt;
    }

    std::optional<UrlError> file_host(char32_t c) {
        if (c != kEof && c != '/' && c != '\\' && c != '?' && c != '#') {
            buffer_.push_back(c);
            return std::nullopt;
        }
        --p_;
        if (is_windows_drive_letter(buffer_)) {
            // "file://C:/x": the drive letter starts the path instead of naming a host.
            segment_ = to_utf8(buffer_);
            buffer_.clear();
            state_ = State::Path;
            return std::nullopt;
        }
        state_ = State::PathStart;
        if (buffer_.empty()) {
            url_.host = UrlHost{UrlHost::Kind::Empty, ""};
            return std::nullopt;
        }
        if (auto error = set_host()) return error;
        if (url_.host->text == "localhost") url_.host = UrlHost{UrlHost::Kind::Empty, ""};
        return std::nullopt;
    }

    void path(char32_t c) {
        bool slash = c == '/' || (url_.is_special() && c == '\\');
        if (!slash && c != kEof && c != '?' && c != '#') {
            append_encoded(segment_, c, EncodeSet::Path);
            return;
        }
        if (is_double_dot(segment_)) {
            shorten_path();
            if (!slash) url_.path.emplace_back();
        } else if (is_single_dot(segment_)) {
            if (!slash) url_.path.emplace_back();
        } else {
            if (url_.scheme == "file" && url_.path.empty() && is_windows_drive_letter(segment_))
                segment_[1] = ':';
            url_.path.push_back(std::move(segment_));
        }
        segment_.clear();
        if (c == '?') {
            url_.query.emplace();
            state_ = State::Query;
        } else if (c == '#') {
            url_.fragment.emplace();
            state_ = State::Fragment;
        }
    }
};

}  // namespace

bool Url::is_special() const {
    return is_special_scheme(scheme);
}

std::string Url::pathname() const {
    if (has_opaque_path) return opaque_path;
    std::string out;
    for (const auto& segment : path) out += "/" + segment;
    return out;
}

std::string Url::href() const {
    std::string out = scheme + ":";
    if (host) {
        out += "//";
        if (!username.empty() || !password.empty()) {
            out += username;
            if (!password.empty()) out += ":" + password;
            out += "@";
        }
        out += host->text;
        if (port) out += ":" + std::to_string(*port);
    } else if (!has_opaque_path && path.size() > 1 && path[0].empty()) {
        // Keeps "//" at the start of the path from reading as an authority.
        out += "/.";
    }
    out += pathname();
    if (query) out += "?" + *query;
    if (fragment) out += "#" + *fragment;
    return out;
}

std::expected<Url, UrlError> parse_url(std::string_view input) {
    return Parser(input).run();
}

}  // namespace vesk
