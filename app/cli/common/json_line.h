// One JSON object on one line, built field by field: the --json output. Strings are written as
// UTF-8 with the escapes JSON requires; a byte string that is not UTF-8 (a file name in another
// encoding) is read as the unit's code page, so the line is always valid JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vrk::cli {

class JsonLine {
  public:
    JsonLine& add(std::string_view key, std::string_view value);
    JsonLine& add(std::string_view key, const char* value) {
        return add(key, std::string_view(value));
    }
    JsonLine& add(std::string_view key, std::int64_t value);
    JsonLine& add(std::string_view key, std::uint32_t value) {
        return add(key, static_cast<std::int64_t>(value));
    }
    JsonLine& add(std::string_view key, int value) {
        return add(key, static_cast<std::int64_t>(value));
    }
    JsonLine& add(std::string_view key, bool value);
    JsonLine& add_null(std::string_view key);
    // A value that is already JSON (a nested object).
    JsonLine& add_raw(std::string_view key, std::string_view json);
    // The object, closed, without a line end.
    [[nodiscard]] std::string text() const { return body_ + "}"; }

  private:
    void key(std::string_view name);
    std::string body_ = "{";
};

// value as a JSON string, quotes included.
[[nodiscard]] std::string json_string(std::string_view value);

}  // namespace vrk::cli
