// Recipe files in TOML, read with toml++. The parser is given the file's name as its source
// path, so every node knows the line it came from, and every mistake can name it.
#include <toml++/toml.h>

#include <string_view>

#include "app/cli/station/recipe.h"

namespace vrk::cli {

namespace {

class Reader {
  public:
    Reader(const std::string& name, std::string* error) : name_(name), error_(error) {}

    bool fail(std::uint32_t line, const std::string& what) {
        *error_ = name_ + ":" + std::to_string(line) + ": " + what;
        return false;
    }

    static std::uint32_t line_of(const toml::key& key, const toml::node& node) {
        const auto line =
            key.source().begin.line != 0 ? key.source().begin.line : node.source().begin.line;
        return static_cast<std::uint32_t>(line);
    }

    bool text(const toml::key& key, const toml::node& node,
              std::optional<FromFile<std::string>>& out, std::string_view example) {
        const auto* value = node.as_string();
        if (value == nullptr)
            return fail(line_of(key, node), std::string(key.str()) + " must be a string, as " +
                                                std::string(key.str()) + " = " +
                                                std::string(example));
        out = FromFile<std::string>{value->get(), line_of(key, node)};
        return true;
    }

    bool integer(const toml::key& key, const toml::node& node,
                 std::optional<FromFile<std::int64_t>>& out, std::string_view example) {
        const auto* value = node.as_integer();
        if (value == nullptr)
            return fail(line_of(key, node),
                        std::string(key.str()) + " must be a whole number, as " +
                            std::string(key.str()) + " = " + std::string(example));
        out = FromFile<std::int64_t>{value->get(), line_of(key, node)};
        return true;
    }

    // A setting's value: its list text, or its code as a number.
    bool setting(const toml::key& key, const toml::node& node,
                 std::optional<FromFile<std::string>>& out) {
        if (const auto* code = node.as_integer()) {
            out = FromFile<std::string>{std::to_string(code->get()), line_of(key, node)};
            return true;
        }
        return text(key, node, out, "\"SiRF\" or a code such as 1");
    }

    bool read(const toml::table& root, RecipeFile& file) {
        for (const auto& [key, node] : root) {
            const std::string_view name = key.str();
            bool ok = true;
            if (name == "image") {
                ok = text(key, node, file.image, "\"app.vr4\"");
            } else if (name == "image_sha256") {
                ok = text(key, node, file.image_sha256, "\"9f86d0...\" (64 hex digits)");
            } else if (name == "verify") {
                const auto* value = node.as_boolean();
                if (value == nullptr)
                    return fail(line_of(key, node), "verify must be true or false");
                file.verify = FromFile<bool>{value->get(), line_of(key, node)};
            } else if (name == "id") {
                ok = text(key, node, file.id, "\"L1000001\"");
            } else if (name == "id_format") {
                ok = text(key, node, file.id_format, "\"L1{:05}\"");
            } else if (name == "id_start") {
                ok = integer(key, node, file.id_start, "1");
            } else if (name == "on_unit") {
                ok = text(key, node, file.on_unit, "\"lp -d labels label.txt\"");
            } else if (name == "then") {
                ok = text(key, node, file.then, "\"run\"");
            } else if (name == "lot") {
                ok = text(key, node, file.lot, "\"WO-2025-0117\"");
            } else if (name == "db") {
                ok = text(key, node, file.db, "\"postgresql://vrk@line-db/vrk\"");
            } else if (name == "db_wait") {
                ok = integer(key, node, file.db_wait, "60");
            } else if (name == "settings" || name == "checks") {
                const auto* table = node.as_table();
                if (table == nullptr)
                    return fail(line_of(key, node),
                                std::string(name) + " must be a table: [" + std::string(name) +
                                    "] on a line of its own, its keys below it");
                ok = name == "settings" ? read_settings(*table, file) : read_checks(*table, file);
            } else {
                return fail(line_of(key, node),
                            "unknown key '" + std::string(name) +
                                "' (a recipe has image, image_sha256, verify, id, id_format, "
                                "id_start, then, lot, on_unit, db, db_wait, [settings] and [checks])");
            }
            if (!ok) return false;
        }
        return true;
    }

  private:
    bool read_settings(const toml::table& table, RecipeFile& file) {
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            bool ok = false;
            if (name == "gps")
                ok = setting(key, node, file.gps);
            else if (name == "internal")
                ok = setting(key, node, file.internal);
            else if (name == "external")
                ok = setting(key, node, file.external);
            else
                return fail(line_of(key, node), "unknown key '" + std::string(name) +
                                                    "' in [settings] (gps, internal, external)");
            if (!ok) return false;
        }
        return true;
    }

    bool read_checks(const toml::table& table, RecipeFile& file) {
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            bool ok = false;
            if (name == "flash_type")
                ok = integer(key, node, file.flash_type, "40 (the flash type code)");
            else if (name == "min_version")
                ok = text(key, node, file.min_version, "\"2.15\"");
            else
                return fail(line_of(key, node), "unknown key '" + std::string(name) +
                                                    "' in [checks] (flash_type, min_version)");
            if (!ok) return false;
        }
        return true;
    }

    const std::string& name_;
    std::string* error_;
};

// The line `line` (from 1) of `text`, without its end.
std::string_view line_at(std::string_view text, std::size_t line) {
    std::size_t start = 0;
    for (std::size_t n = 1; n < line; ++n) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) return {};
        start = end + 1;
    }
    const std::size_t end = text.find('\n', start);
    std::string_view found = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (!found.empty() && found.back() == '\r') found.remove_suffix(1);
    return found;
}

// What is wrong with a line the TOML parser refused, in the words of the person who wrote the
// recipe: the parser's own words name its grammar, not the mistake.
std::string plain_words(std::string_view line) {
    char quote = 0;
    bool escaped = false;
    for (const char c : line) {
        if (quote == 0 && c == '#') break;  // a comment
        if (quote == '"' && escaped) {
            escaped = false;
            continue;
        }
        if (quote == '"' && c == '\\') {
            escaped = true;
            continue;
        }
        if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else if (c == quote) {
            quote = 0;
        }
    }
    if (quote != 0)
        return std::string("a text in quotes is not closed on its line (the closing ") + quote +
               " is missing)";
    const std::size_t first = line.find_first_not_of(" \t");
    if (first != std::string_view::npos && line[first] == '[' &&
        line.find(']', first) == std::string_view::npos)
        return "a [section] name is not closed (the ] is missing)";
    if (first != std::string_view::npos && line[first] != '[' && line[first] != '#' &&
        line.find('=') == std::string_view::npos)
        return "a setting is written as name = value, and this line has no =";
    return "this line is not a setting the file can hold";
}

}  // namespace

std::optional<RecipeFile> parse_recipe_file(std::string_view text, const std::string& name,
                                            std::string* error) {
    toml::table root;
    try {
        root = toml::parse(text, name);
    } catch (const toml::parse_error& e) {
        const std::size_t line = e.source().begin.line;
        *error = name + ":" + std::to_string(line) + ": " + plain_words(line_at(text, line)) +
                 " (the TOML reader says: " + std::string(e.description()) + ")";
        return std::nullopt;
    }
    RecipeFile file;
    Reader reader(name, error);
    if (!reader.read(root, file)) return std::nullopt;
    return file;
}

}  // namespace vrk::cli
