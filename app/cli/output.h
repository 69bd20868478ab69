// The tool's output, shared by the sessions of every port: each writes whole lines (or a block
// of lines that belongs together) under one lock, so lines from several units never mix. Below
// the lines, when standard error is a terminal, a progress bar per port is redrawn in place.
#pragma once

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vrk::cli {

struct OutputSettings {
    bool json = false;         // standard output carries JSON Lines only
    int verbosity = 1;         // 0 quiet: errors only on standard error; 2 verbose
    bool bars = false;         // standard error is a terminal a person watches
    int columns = 80;          // its width
    std::size_t bar_rows = 0;  // one per port
};

class Output {
  public:
    Output(OutputSettings settings, std::FILE* out, std::FILE* err);

    [[nodiscard]] const OutputSettings& settings() const { return settings_; }

    // Standard output: a JSON object (with --json) or the result lines a script reads.
    void json(std::string_view object);
    void result(std::string_view lines);
    // Standard error: a note shown from this verbosity on (1 normal, 2 verbose); an error is
    // shown always.
    void note(int level, std::string_view lines);
    void error(std::string_view lines);
    // The progress bar of one port (row < bar_rows); an empty text removes it.
    void bar(std::size_t row, std::string_view text);

  private:
    void write_locked(std::FILE* stream, std::string_view lines);
    void erase_bars_locked();
    void draw_bars_locked();

    OutputSettings settings_;
    std::FILE* out_;
    std::FILE* err_;
    std::mutex mutex_;
    std::vector<std::string> bars_;
    std::size_t bars_drawn_ = 0;
};

// The time now as ISO 8601 in UTC with milliseconds: "2025-03-01T12:34:56.789Z".
[[nodiscard]] std::string utc_time_now();

}  // namespace vrk::cli
