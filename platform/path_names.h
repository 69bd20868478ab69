// Where a file name starts in a path. The program meets paths from several places whose rules
// differ on purpose: its own system's paths, the Windows paths a macro file is proposed under
// (a drive letter "C:" ends a directory part too), and the command line handed over by a shell
// or a desktop, where any colon, slash or backslash ends one. Each rule is a named variant here
// so that no caller writes its own find_last_of.
#pragma once

#include <cstddef>
#include <string_view>

namespace vrk::platform {

enum class PathRule {
    slash,              // '/' only: this system's own paths (a device, the program's name)
    with_drive_letter,  // '/' or '\\', or a leading drive letter and ':' ("C:name")
    command_line,       // everything up to the last ':', '/' or '\\' is directory
};

// Index of the first character of the file-name part; 0 when the path has no directory part.
[[nodiscard]] std::size_t file_name_start(std::string_view path, PathRule rule);
// The file-name part itself.
[[nodiscard]] std::string_view file_name_part(std::string_view path, PathRule rule);
// The directory part, with its last separator ("" when there is none).
[[nodiscard]] std::string_view directory_part(std::string_view path, PathRule rule);

// True when name ends in suffix, ASCII letters compared without regard to case (names are
// bytes to us, as they are to the file system): ".vr4" finds "APP.VR4".
[[nodiscard]] bool ends_with_ignoring_case(std::string_view name, std::string_view suffix);

}  // namespace vrk::platform
