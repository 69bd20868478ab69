#include "app/cli/station/id_scheme.h"

#include <span>

#include "platform/code_page.h"
#include "platform/hex_text.h"

namespace vrk::cli {

namespace {

constexpr std::size_t MAX_WIDTH = UNIT_ID_MAX_CHARS;

bool storable(char c) {
    return c >= 0x21 && c <= 0x7E;
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

std::string decimal(std::uint64_t n, std::size_t width) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + n % 10));
        n /= 10;
    } while (n != 0);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return digits;
}

std::string escaped(std::string_view literal) {
    std::string out;
    for (char c : literal) {
        out += c;
        if (c == '{' || c == '}') out += c;
    }
    return out;
}

std::string printable(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            const auto byte = static_cast<std::uint8_t>(c);
            out += "\\x";
            platform::append_hex(out, std::span<const std::uint8_t>(&byte, 1));
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> unit_id(std::string_view text, IdCharacters characters,
                                   std::string* error) {
    const bool station = characters == IdCharacters::station;
    // A station's characters are ASCII: a byte outside them is refused as one, valid UTF-8 or not.
    if (!station && !platform::is_valid_utf8(text)) {
        *error = "the ID is not valid text";
        return std::nullopt;
    }
    const std::u32string chars =
        station ? std::u32string(text.begin(), text.end()) : platform::utf8_to_unicode(text);
    const std::string shown = station ? printable(text) : std::string(text);
    if (chars.empty()) {
        *error = "the ID is empty";
        return std::nullopt;
    }
    if (chars.size() > UNIT_ID_MAX_CHARS) {
        *error = "the ID '" + shown + "' is longer than 8 characters";
        return std::nullopt;
    }
    std::string id;
    for (const char32_t c : chars) {
        const auto byte = station ? std::optional<unsigned char>(static_cast<unsigned char>(c))
                                  : platform::unicode_to_windows1255(c);
        const bool allowed =
            byte && (station ? storable(static_cast<char>(*byte)) : *byte >= 0x20 && *byte != 0x7F);
        if (!allowed) {
            *error = "the ID '" + shown + "' holds a character " +
                     (station ? "a station does not give (only 0x21 to 0x7E: letters, digits and "
                                "punctuation, no blank)"
                              : "the unit cannot store");
            return std::nullopt;
        }
        id += upper(static_cast<char>(*byte));
    }
    return id;
}

std::optional<std::string> station_id(std::string_view text, std::string* error) {
    return unit_id(text, IdCharacters::station, error);
}

std::optional<IdScheme> IdScheme::parse(std::string_view text, std::optional<std::uint32_t> station,
                                        std::string* error, std::uint64_t start) {
    const std::string quoted = "the ID template '" + printable(text) + "'";
    const auto fail = [&](const std::string& why) -> std::optional<IdScheme> {
        *error = quoted + " " + why;
        return std::nullopt;
    };
    IdScheme scheme;
    scheme.station_ = station;
    int counters = 0, stations = 0;
    const auto literal = [&scheme](char c) {
        if (scheme.tokens_.empty() || scheme.tokens_.back().part != Part::literal)
            scheme.tokens_.push_back({});
        scheme.tokens_.back().text += upper(c);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{' && i + 1 < text.size() && text[i + 1] == '{') {
            literal('{');
            ++i;
            continue;
        }
        if (c == '}') {
            if (i + 1 < text.size() && text[i + 1] == '}') {
                literal('}');
                ++i;
                continue;
            }
            return fail("has a '}' without its '{' (write }} for a brace)");
        }
        if (c != '{') {
            if (!storable(c))
                return fail(
                    "holds a character a unit's ID cannot hold (only 0x21 to 0x7E: letters, "
                    "digits and punctuation, no blank)");
            literal(c);
            continue;
        }
        const auto close = text.find('}', i + 1);
        if (close == std::string_view::npos)
            return fail("has a '{' without its '}' (write {{ for a brace)");
        const std::string_view field = text.substr(i + 1, close - i - 1);
        i = close;
        if (field == "station") {
            if (++stations > 1) return fail("uses {station} more than once");
            if (!station)
                return fail("uses {station}: give the station's number with --station-number N");
            scheme.tokens_.push_back({Part::station, {}, 0});
            continue;
        }
        Token counter{Part::counter, {}, 0};
        if (!field.empty()) {
            // {:0N}: zero-padded to N digits. Blanks could not be stored, so no other padding.
            const bool form = field.size() >= 3 && field[0] == ':' && field[1] == '0' &&
                              field.size() <= 4 && is_digit(field[2]) &&
                              (field.size() == 3 || is_digit(field[3]));
            std::size_t width = 0;
            if (form)
                for (char d : field.substr(2))
                    width = width * 10 + static_cast<std::size_t>(d - '0');
            if (!form || width == 0 || width > MAX_WIDTH)
                return fail("has the field {" + printable(field) +
                            "}: the counter is {} or {:0N} (N from 1 to 8), the station's "
                            "number {station}");
            counter.width = width;
        }
        if (++counters > 1) return fail("has more than one counter field");
        scheme.tokens_.push_back(counter);
    }
    if (counters == 0) return fail("has no counter field: {} or {:0N}, as in L1{:05}");

    for (const Token& t : scheme.tokens_) {
        switch (t.part) {
            case Part::literal:
                scheme.text_ += escaped(t.text);
                scheme.counter_key_ += escaped(t.text);
                break;
            case Part::counter: {
                const std::string field =
                    t.width == 0 ? "{}" : "{:0" + std::to_string(t.width) + "}";
                scheme.text_ += field;
                scheme.counter_key_ += field;
                break;
            }
            case Part::station:
                scheme.text_ += "{station}";
                scheme.counter_key_ += std::to_string(*station);
                break;
        }
    }
    // The shortest ID this template gives is its first, at the counter's start: every later
    // one is as long or longer.
    std::string shortest;
    for (const Token& t : scheme.tokens_)
        shortest += t.part == Part::literal   ? t.text
                    : t.part == Part::station ? decimal(*station, 0)
                                              : decimal(start, t.width);
    if (shortest.size() > UNIT_ID_MAX_CHARS)
        return fail("gives IDs longer than 8 characters (the first would be " + shortest + ")");
    return scheme;
}

std::optional<std::string> IdScheme::format(std::uint64_t n) const {
    std::string id;
    for (const Token& t : tokens_) {
        switch (t.part) {
            case Part::literal:
                id += t.text;
                break;
            case Part::counter:
                id += decimal(n, t.width);
                break;
            case Part::station:
                id += decimal(station_.value_or(0), 0);
                break;
        }
        if (id.size() > UNIT_ID_MAX_CHARS) return std::nullopt;
    }
    return id;
}

bool IdScheme::matches(std::string_view id) const {
    return match_from(0, id);
}

bool IdScheme::match_from(std::size_t token, std::string_view rest) const {
    if (token == tokens_.size()) return rest.empty();
    const Token& t = tokens_[token];
    if (t.part == Part::literal) {
        return rest.substr(0, t.text.size()) == t.text &&
               match_from(token + 1, rest.substr(t.text.size()));
    }
    // A number: as many digits as the rest allows, each length tried (a literal digit may
    // follow the field). Written without leading zeros, except the padding of {:0N}.
    const std::size_t max_digits =
        t.part == Part::station ? decimal(STATION_NUMBER_MAX, 0).size() : rest.size();
    for (std::size_t k = 1; k <= rest.size() && k <= max_digits && is_digit(rest[k - 1]); ++k) {
        const bool leading_zero = rest[0] == '0' && k > 1;
        const bool well_formed = t.part == Part::counter && t.width > 0
                                     ? (k == t.width || (k > t.width && !leading_zero))
                                     : !leading_zero;
        if (well_formed && match_from(token + 1, rest.substr(k))) return true;
    }
    return false;
}

}  // namespace vrk::cli
