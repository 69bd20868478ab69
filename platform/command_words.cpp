#include "platform/command_words.h"

namespace vrk::platform {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Characters a shell reads as the end of a simple command or a redirection.
bool is_operator(char c) {
    switch (c) {
        case '|':
        case '&':
        case ';':
        case '<':
        case '>':
        case '(':
        case ')':
        case '\n':
            return true;
        default:
            return false;
    }
}

// Inside double quotes a backslash escapes only these; before anything else it stays.
bool escapable_in_double_quotes(char c) {
    return c == '$' || c == '`' || c == '"' || c == '\\' || c == '\n';
}

CommandWords refused(std::string why) {
    return {{}, std::move(why)};
}

std::string shown(char c) {
    return c == '\n' ? std::string("a line break") : "'" + std::string(1, c) + "'";
}

}  // namespace

CommandWords split_command(std::string_view line) {
    CommandWords result;
    std::string word;
    bool in_word = false;  // a word has begun (an empty '' or "" is a word too)
    std::size_t i = 0;
    const auto end_word = [&] {
        if (in_word) result.words.push_back(std::move(word));
        word.clear();
        in_word = false;
    };
    while (i < line.size()) {
        const char c = line[i];
        if (is_blank(c)) {
            end_word();
            ++i;
        } else if (c == '\\') {
            if (i + 1 == line.size())
                return refused("the command ends with a backslash that escapes nothing");
            // A backslash before a line break joins the lines, as in a shell script.
            if (line[i + 1] != '\n') {
                word += line[i + 1];
                in_word = true;
            }
            i += 2;
        } else if (c == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            if (close == std::string_view::npos)
                return refused("the command has a single quote that is not closed");
            word.append(line.substr(i + 1, close - i - 1));
            in_word = true;
            i = close + 1;
        } else if (c == '"') {
            in_word = true;
            ++i;
            for (;;) {
                if (i == line.size())
                    return refused("the command has a double quote that is not closed");
                const char q = line[i];
                if (q == '"') {
                    ++i;
                    break;
                }
                if (q == '\\' && i + 1 < line.size() && escapable_in_double_quotes(line[i + 1])) {
                    if (line[i + 1] != '\n') word += line[i + 1];
                    i += 2;
                    continue;
                }
                word += q;
                ++i;
            }
        } else if (is_operator(c) || (c == '#' && !in_word)) {
            return refused("the command has " + shown(c) +
                           ", which only a shell understands; to use one, write sh -c '...'");
        } else {
            word += c;
            in_word = true;
            ++i;
        }
    }
    end_word();
    if (result.words.empty()) return refused("the command is empty");
    return result;
}

std::string windows_command_line(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) line += ' ';
        if (!word.empty() && word.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += word;
            continue;
        }
        line += '"';
        std::size_t backslashes = 0;
        for (const char c : word) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            // Backslashes count only before a quote: doubled there, and the quote escaped.
            line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, '\\');  // before the closing quote
        line += '"';
    }
    return line;
}

}  // namespace vrk::platform
