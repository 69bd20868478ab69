#include "platform/command_words.h"

#include <gtest/gtest.h>

namespace vrk::platform {
namespace {

using Words = std::vector<std::string>;

// Each line split as `sh` would split it as a simple command with nothing to expand.
TEST(CommandWords, SplitAsAShellSplitsASimpleCommand) {
    struct Case {
        const char* line;
        Words words;
    };
    const Case cases[] = {
        {"lp -d label", {"lp", "-d", "label"}},
        {"  lp\t-d   label  ", {"lp", "-d", "label"}},
        {"sh -c 'echo $VRK_SERIAL >> units.txt'", {"sh", "-c", "echo $VRK_SERIAL >> units.txt"}},
        {"a 'b \"c\" \\d'", {"a", "b \"c\" \\d"}},  // nothing escapes in single quotes
        {"a \"b 'c' \\\" \\\\ \\$ \\x\"", {"a", "b 'c' \" \\ $ \\x"}},
        {"a \"$HOME\" `x`", {"a", "$HOME", "`x`"}},  // no expansion, quoted or not
        {"a\\ b c\\'d \\\"", {"a b", "c'd", "\""}},
        {"a '' \"\" b", {"a", "", "", "b"}},  // empty quotes are empty words
        {"ab'c d'\"e f\"g", {"abc de fg"}},   // quotes join with what touches them
        {"a \\\n b", {"a", "b"}},             // a continued line
        {"a \"x\\\ny\"", {"a", "xy"}},
        {"curl -d@- http://mes/unit?x=1*2", {"curl", "-d@-", "http://mes/unit?x=1*2"}},
        {"a b#c '#' \\#", {"a", "b#c", "#", "#"}},  // # starts a comment only at a word
        {"a '|' \"&;<>()\" \\|", {"a", "|", "&;<>()", "|"}},
        {"a 'line\nbreak'", {"a", "line\nbreak"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const CommandWords split = split_command(c.line);
        EXPECT_EQ(split.error, "");
        EXPECT_EQ(split.words, c.words);
    }
}

// A line that is not one program with its arguments is refused with the reason, never cut
// short or passed on in pieces.
TEST(CommandWords, RefusesWhatOnlyAShellUnderstands) {
    struct Case {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"", "the command is empty"},
        {"  \t ", "the command is empty"},
        {"a 'b", "the command has a single quote that is not closed"},
        {"a \"b\\\"", "the command has a double quote that is not closed"},
        {"a b\\", "the command ends with a backslash that escapes nothing"},
        {"echo x > f",
         "the command has '>', which only a shell understands; to use one, write sh -c '...'"},
        {"a|b",
         "the command has '|', which only a shell understands; to use one, write sh -c '...'"},
        {"a && b",
         "the command has '&', which only a shell understands; to use one, write sh -c '...'"},
        {"a; b",
         "the command has ';', which only a shell understands; to use one, write sh -c '...'"},
        {"a <in",
         "the command has '<', which only a shell understands; to use one, write sh -c '...'"},
        {"(a)",
         "the command has '(', which only a shell understands; to use one, write sh -c '...'"},
        {"a #note",
         "the command has '#', which only a shell understands; to use one, write sh -c '...'"},
        {"a\nb",
         "the command has a line break, which only a shell understands; to use one, write sh -c "
         "'...'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const CommandWords split = split_command(c.line);
        EXPECT_EQ(split.error, c.error);
        EXPECT_TRUE(split.words.empty());
    }
}

// Each line as the C runtime on Windows splits it gives back the words.
TEST(CommandWords, WindowsCommandLineQuotesWhatTheRuntimeWouldSplit) {
    struct Case {
        Words words;
        const char* line;
    };
    const Case cases[] = {
        {{"lp", "-d", "label"}, R"(lp -d label)"},
        {{"C:\\Program Files\\curl.exe", "a b"}, R"("C:\Program Files\curl.exe" "a b")"},
        {{"a", ""}, R"(a "")"},
        {{"say \"hi\""}, R"("say \"hi\"")"},
        {{"dir\\", "x y\\"}, R"(dir\ "x y\\")"},  // before the closing quote: doubled
        {{"a\\\"b"}, R"("a\\\"b")"},              // before a quote: doubled, quote escaped
        {{"a\\b c", "tab\there"}, "\"a\\b c\" \"tab\there\""},  // elsewhere: as they are
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(windows_command_line(c.words), c.line);
    }
}

}  // namespace
}  // namespace vrk::platform
