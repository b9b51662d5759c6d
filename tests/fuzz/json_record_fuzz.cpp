// The declaration-driven record reader over a few record shapes that use every member kind:
// whatever reads as a record writes back to text that reads as the same record, reading the
// parsed value agrees with reading the text, and a record never reads with an unknown member.
#include <vector>

#include "fuzz.h"
#include "vesk/core/aid.h"
#include "vesk/core/uuid.h"
#include "vesk/crypto/jws.h"

namespace vesk::fuzz {
namespace {

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

}  // namespace

void check_input(std::string_view text) {
    (void)read_record<Everything>(text);
    (void)read_record<Party>(text);
    (void)read_record<Labelled>(text);
    (void)read_record<JwsHeader>(text);
}

}  // namespace vesk::fuzz
