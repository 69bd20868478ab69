#include "app/cli/common/json_line.h"

#include <cstdio>

#include "platform/code_page.h"

namespace vrk::cli {

std::string json_string(std::string_view value) {
    const std::string utf8 = platform::display_utf8(value);
    std::string out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

void JsonLine::key(std::string_view name) {
    if (body_.size() > 1) body_ += ',';
    body_ += json_string(name);
    body_ += ':';
}

JsonLine& JsonLine::add(std::string_view name, std::string_view value) {
    key(name);
    body_ += json_string(value);
    return *this;
}

JsonLine& JsonLine::add(std::string_view name, std::int64_t value) {
    key(name);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::add(std::string_view name, bool value) {
    key(name);
    body_ += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::add_null(std::string_view name) {
    key(name);
    body_ += "null";
    return *this;
}

JsonLine& JsonLine::add_raw(std::string_view name, std::string_view json) {
    key(name);
    body_ += json;
    return *this;
}

}  // namespace vrk::cli
