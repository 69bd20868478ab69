// A command given as one line of text (a hook's --on-unit, a recipe's on_unit) made into the
// words a program is started with, the way a POSIX shell splits a simple command: blanks
// separate words, single quotes keep everything up to the next one as it is, double quotes
// group and let a backslash escape only $ ` " \ and a line break, and outside quotes a
// backslash takes the next character as it is. Nothing is expanded: no variables, no globs,
// no ~, no command substitution; "$VRK_SERIAL" reaches the program as those eleven
// characters, which is what `sh -c '...'` wants to be given.
//
// What would make the line more than one program with its arguments (an unquoted | & ; < > (
// ), a comment, a line break) is refused with a message, rather than passed on as a word the
// person meant the shell to read: they write sh -c '...' for that. OS-free: both systems
// start programs from the same words.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vrk::platform {

struct CommandWords {
    std::vector<std::string> words;  // the program first; empty when `error` says why
    std::string error;               // empty when the line was split
};

[[nodiscard]] CommandWords split_command(std::string_view line);

// The words as one Windows command line that the C runtime's start-up (and
// CommandLineToArgvW) splits back into the same words: a word with a blank or a quote, or an
// empty one, in double quotes, with a quote inside escaped by a backslash and the backslashes
// before a quote doubled. (cmd.exe reads its /c line by rules of its own: a batch file gets
// its words as cmd passes them.)
[[nodiscard]] std::string windows_command_line(const std::vector<std::string>& words);

}  // namespace vrk::platform
