// The IDs a production station gives its units: fixed IDs typed by a person and ID schemes, a
// template with literal text, one counter field and optionally the station's number, so that
// the stations of a line number their units without ever meeting each other's IDs.
//
// A station ID holds the characters 0x21 to 0x7E (printable ASCII without the blank), letters
// upper case (the unit's ID box turns letters to upper case as they are typed, so a lower-case
// letter typed here is turned too), at most 8 characters (what the unit stores).
//
// Pure code: no store, no system. Every function may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vrk::cli {

// What a unit stores of its ID.
inline constexpr std::size_t UNIT_ID_MAX_CHARS = 8;
// The station numbers a scheme's {station} field can stand for.
inline constexpr std::uint32_t STATION_NUMBER_MAX = 999'999;
// The highest counter value a scheme can start at: IDs have at most 8 characters.
inline constexpr std::uint64_t ID_COUNTER_MAX = 99'999'999;

// The characters an ID may hold.
enum class IdCharacters {
    // What the unit stores: any character of its code page but the control characters (set-id
    // sends the ID as the window does, Hebrew and blanks included).
    code_page,
    // What a station gives: 0x21 to 0x7E (printable ASCII without the blank), so the IDs of a
    // line can be typed, printed on a label and compared anywhere.
    station,
};

// An ID as it is sent to the unit: in its code page (the text is UTF-8), letters upper case (as
// the ID box turns them). nullopt, with the reason in *error, when it is empty, longer than 8
// characters (refused, not cut: a cut ID is some other unit's) or holds a character outside
// `characters`.
[[nodiscard]] std::optional<std::string> unit_id(std::string_view text, IdCharacters characters,
                                                 std::string* error);
// A fixed ID for the station: unit_id(text, IdCharacters::station, error).
[[nodiscard]] std::optional<std::string> station_id(std::string_view text, std::string* error);

// An ID template:
//   literal text    characters 0x21-0x7E; "{{" and "}}" stand for a brace
//   {} or {:0N}     the counter, exactly once: in decimal, zero-padded to N digits (N 1 to 8);
//                   a number with more digits than N is written whole
//   {station}       the station's number in decimal, at most once
// "L1{:05}" gives L100001, L100002, ...; "S{station}-{:04}" at station 3 gives S3-0001, ...
class IdScheme {
  public:
    // Parses a template for the station with this number (nullopt: none was given, so the
    // template may not use {station}) whose counter starts at `start`. nullopt, with the reason
    // in *error, for a template that breaks the rules above, uses {station} without a station
    // number, or whose first ID (the shortest it gives) is longer than 8 characters.
    [[nodiscard]] static std::optional<IdScheme> parse(std::string_view text,
                                                       std::optional<std::uint32_t> station,
                                                       std::string* error, std::uint64_t start = 1);

    // The template as written, letters upper case.
    [[nodiscard]] const std::string& text() const { return text_; }
    // The name of this scheme's counter in the station's records: the template with the
    // station's number filled in ("S{station}-{:04}" at station 3 is "S3-{:04}"). Templates
    // that give the same IDs at this station mostly share one name, and so one counter; IDs
    // that exist already are skipped in any case.
    [[nodiscard]] const std::string& counter_key() const { return counter_key_; }
    [[nodiscard]] std::optional<std::uint32_t> station() const { return station_; }

    // The ID for counter value n, or nullopt when it would be longer than 8 characters (the
    // counter is exhausted from n on: IDs only grow with n).
    [[nodiscard]] std::optional<std::string> format(std::uint64_t n) const;
    // Whether `id` is an ID this template gives at any station number and any counter value,
    // as a unit flashed by another station of the line carries it. Compared byte for byte:
    // the template's letters are upper case, as every ID it gives.
    [[nodiscard]] bool matches(std::string_view id) const;

  private:
    enum class Part { literal, counter, station };
    struct Token {
        Part part = Part::literal;
        std::string text;       // literal
        std::size_t width = 0;  // counter: the N of {:0N}, 0 for {}
    };

    [[nodiscard]] bool match_from(std::size_t token, std::string_view rest) const;

    std::vector<Token> tokens_;
    std::string text_;
    std::string counter_key_;
    std::optional<std::uint32_t> station_;
};

}  // namespace vrk::cli
