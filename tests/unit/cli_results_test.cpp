// vrk's results and exit codes: the README and --help tell a script what each means, and must
// say what the program does.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "app/cli/common/results.h"
#include "app/cli/options.h"

namespace vrk::test {
namespace {

using cli::Result;

std::string readme() {
    std::ifstream file(VRK_SOURCE_DIR "/README.md");
    EXPECT_TRUE(file);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The words in `backticks` of a text.
std::set<std::string> backticked(std::string_view text) {
    std::set<std::string> words;
    for (std::size_t at = text.find('`'); at != std::string_view::npos;) {
        const std::size_t end = text.find('`', at + 1);
        if (end == std::string_view::npos) break;
        words.emplace(text.substr(at + 1, end - at - 1));
        at = text.find('`', end + 1);
    }
    return words;
}

std::set<std::string> result_names() {
    std::set<std::string> names;
    for (const cli::ResultRow& r : cli::result_table()) names.emplace(r.name);
    return names;
}

TEST(VrkResults, TheReadmeListsEveryResultAndItsExitCode) {
    const std::string text = readme();
    // The paragraph that lists the results.
    const auto list = text.find("\n`result` is ");
    ASSERT_NE(list, std::string::npos);
    const std::string paragraph = text.substr(list, text.find("\n\n", list) - list);
    std::set<std::string> listed = backticked(paragraph);
    listed.erase("result");
    listed.erase("error");
    listed.erase("program");
    listed.erase("[checks]");
    listed.erase("--id");
    listed.erase("--record");
    EXPECT_EQ(listed, result_names());

    // The exit codes' table: a row per code, and a result it names ends with that code.
    const auto table = text.find("| code | meaning |");
    ASSERT_NE(table, std::string::npos);
    std::istringstream rows(text.substr(table, text.find("\n\n", table) - table));
    std::set<int> codes;
    const std::set<std::string> names = result_names();
    for (std::string row; std::getline(rows, row);) {
        if (row.size() < 4 || row[2] < '0' || row[2] > '9') continue;
        const int code = row[2] - '0';
        codes.insert(code);
        for (const std::string& word : backticked(row))
            if (names.count(word) != 0) {
                bool found = false;
                for (const cli::ResultRow& r : cli::result_table()) {
                    if (r.name != word) continue;
                    found = true;
                    EXPECT_EQ(r.exit_code, code) << word;
                }
                EXPECT_TRUE(found);
            }
    }
    std::set<int> in_table;
    for (const cli::ExitCodeSpec& c : cli::exit_code_table()) in_table.insert(c.code);
    EXPECT_EQ(codes, in_table);
}

TEST(VrkResults, HelpNamesEveryExitCodeAndResult) {
    const std::string help = cli::usage_text();
    std::set<int> codes;
    for (const cli::ExitCodeSpec& c : cli::exit_code_table()) {
        codes.insert(c.code);
        EXPECT_NE(help.find("\n  " + std::to_string(c.code) + "  "), std::string::npos) << c.code;
    }
    for (const cli::ResultRow& r : cli::result_table()) {
        EXPECT_NE(help.find(std::string(r.name)), std::string::npos) << r.name;
        // Every code a result ends with is one --help explains.
        EXPECT_EQ(codes.count(r.exit_code), 1u) << r.name;
        EXPECT_EQ(cli::result_spec(r.result).name, r.name);
    }
}

TEST(VrkResults, TheEnginesResultsKeepTheirNames) {
    for (const device::Result r :
         {device::Result::success, device::Result::mismatch, device::Result::not_responding,
          device::Result::link_lost, device::Result::port_lost, device::Result::interrupted,
          device::Result::file_not_found, device::Result::file_unreadable,
          device::Result::file_empty, device::Result::file_too_large})
        EXPECT_EQ(cli::result_name(cli::result_of(r)), device::result_name(r));
}

}  // namespace
}  // namespace vrk::test
