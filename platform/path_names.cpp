#include "platform/path_names.h"

namespace vrk::platform {

namespace {

bool is_ascii_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::size_t file_name_start(std::string_view path, PathRule rule) {
    std::size_t last = std::string_view::npos;
    switch (rule) {
        case PathRule::slash:
            last = path.find_last_of('/');
            break;
        case PathRule::with_drive_letter:
            last = path.find_last_of("/\\");
            if (last == std::string_view::npos && path.size() >= 2 && path[1] == ':' &&
                is_ascii_letter(path[0]))
                last = 1;
            break;
        case PathRule::command_line:
            last = path.find_last_of(":/\\");
            break;
    }
    return last == std::string_view::npos ? 0 : last + 1;
}

std::string_view file_name_part(std::string_view path, PathRule rule) {
    return path.substr(file_name_start(path, rule));
}

std::string_view directory_part(std::string_view path, PathRule rule) {
    return path.substr(0, file_name_start(path, rule));
}

bool ends_with_ignoring_case(std::string_view name, std::string_view suffix) {
    if (suffix.size() > name.size()) return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (ascii_lower(tail[i]) != ascii_lower(suffix[i])) return false;
    }
    return true;
}

}  // namespace vrk::platform
