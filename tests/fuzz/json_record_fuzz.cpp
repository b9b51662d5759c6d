// The declaration-driven record reader over a few record shapes that use every member kind:
// whatever reads as a record writes back to text that reads as the same record, writes as its
// generic value writes (compact and canonical), reading the parsed value (copying or moving out
// of it) agrees with reading the text, and a record never reads with an unknown member.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "vesk/core/aid.h"
#include "vesk/core/canonical_json.h"
#include "vesk/core/json_record.h"
#include "vesk/core/uuid.h"
#include "vesk/crypto/jws.h"

using namespace vesk;

namespace records {

enum class Mode { Direct, Relayed, Queued };
constexpr auto describe_json(std::type_identity<Mode>) {
    return json::variants<Mode>({"direct", "relayed", "queued"});
}

struct Party {
    Aid aid;
    std::optional<Uuid> session;
};
constexpr auto describe_json(std::type_identity<Party>) {
    return json::record("struct Party", json::member("aid", &Party::aid),
                        json::member("session", &Party::session));
}

struct Everything {
    std::string name;
    std::int64_t offset;
    std::uint64_t count;
    std::vector<std::string> tags;
    std::optional<std::int64_t> limit;
    json::Value extra;
    json::Extensions extensions;
    Party party;
    std::vector<Party> chain;
    Mode mode;
    std::optional<Mode> fallback;
};
constexpr auto describe_json(std::type_identity<Everything>) {
    return json::record(
        "struct Everything", json::member("name", &Everything::name),
        json::member("offset", &Everything::offset), json::member("count", &Everything::count),
        json::member("tags", &Everything::tags), json::member("limit", &Everything::limit),
        json::member("extra", &Everything::extra),
        json::member("extensions", &Everything::extensions),
        json::member("party", &Everything::party), json::member("chain", &Everything::chain),
        json::member("mode", &Everything::mode), json::member("fallback", &Everything::fallback));
}

// A member type without a default state makes the record one too.
class Label {
  public:
    static std::expected<Label, std::string> parse(std::string_view text) {
        if (text.empty()) return std::unexpected("an empty label");
        return Label(std::string(text));
    }
    static std::string format(const Label& label) { return label.text_; }

  private:
    explicit Label(std::string text) : text_(std::move(text)) {}
    std::string text_;
};
constexpr auto describe_json(std::type_identity<Label>) {
    return json::parsed_string<Label>("a label", Label::parse, Label::format);
}

struct Labelled {
    Label label;
    std::optional<Label> alias;
    std::vector<Label> more;
};
constexpr auto describe_json(std::type_identity<Labelled>) {
    return json::record("struct Labelled", json::member("label", &Labelled::label),
                        json::member("alias", &Labelled::alias),
                        json::member("more", &Labelled::more));
}

}  // namespace records

namespace {

template <class T>
void check(std::string_view text, const json::Result<json::Value>& parsed) {
    if (parsed && json::first_undeclared_member<T>(*parsed)) {
        fuzz::require(!json::from_value<T>(*parsed), "a value with an unknown member is refused");
    }
    auto read = json::from_json<T>(text);
    if (!read) {
        fuzz::require(read.error().has_position(), "a text reading error carries its position");
        return;
    }
    const std::string written = json::to_json(*read);
    const json::Value value = json::to_value(*read);
    fuzz::require(written == json::write_compact(value), "a record writes as its value does");
    auto canonical = json::to_canonical_json(*read);
    auto value_canonical = canonical_json(value);
    fuzz::require(canonical.has_value() == value_canonical.has_value() &&
                      (!canonical || *canonical == *value_canonical),
                  "a record writes canonically as its value does");
    auto reread = json::from_json<T>(written);
    fuzz::require(reread.has_value(), "a written record reads back");
    fuzz::require(json::to_json(*reread) == written, "a written record reads back unchanged");

    fuzz::require(parsed.has_value(), "the text of a record is JSON");
    fuzz::require(!json::first_undeclared_member<T>(*parsed),
                  "a record read has no unknown member");
    auto via_value = json::from_value<T>(*parsed);
    fuzz::require(via_value.has_value(), "the parsed text reads as the record too");
    fuzz::require(json::to_json(*via_value) == written, "both readings give the same record");
    auto moved_out = json::from_value<T>(json::Value(*parsed));
    fuzz::require(moved_out && json::to_json(*moved_out) == written,
                  "moving out of the value gives the same record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    const auto parsed = json::parse(text);
    check<records::Everything>(text, parsed);
    check<records::Party>(text, parsed);
    check<records::Labelled>(text, parsed);
    check<JwsHeader>(text, parsed);
    return 0;
}
