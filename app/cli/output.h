// The tool's output, shared by the sessions of every port: each writes whole lines (or a block
// of lines that belongs together) under one lock, so lines from several units never mix. Below
// the lines, when standard error is a terminal, the operator's board: a line per port and a
// total line, redrawn in place.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/board_line.h"

namespace vrk::cli {

struct OutputSettings {
    bool json = false;   // standard output carries JSON Lines only
    int verbosity = 1;   // 0 quiet: errors only on standard error; 2 verbose
    bool board = false;  // standard error is a terminal a person watches
    int columns = 80;    // its width at the start
    // Its width now (nullopt: unknown, keep the last), asked before every drawing: a window
    // made narrower or wider gets a board drawn for its new width.
    std::function<std::optional<int>()> columns_now;
    std::size_t board_rows = 0;  // one per port
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
    // The board's line of one port (row < board_rows), and its total line under them.
    void board_row(std::size_t row, BoardLine line);
    void board_total(BoardLine line);
    // The run is over: the board as it stands is left on the screen (drawn again first if
    // the width changed) and no longer redrawn; later lines go below it.
    void end_board();
    // The terminal's bell (on the board only: a unit failed).
    void bell();

  private:
    void write_locked(std::FILE* stream, std::string_view lines);
    void set_row(std::size_t row, BoardLine line);
    void erase_board_locked();
    void draw_board_locked();
    // Asks the width; when it changed, the drawing on the screen no longer tells how many
    // lines to go up by.
    bool follow_width_locked();

    OutputSettings settings_;
    std::FILE* out_;
    std::FILE* err_;
    std::mutex mutex_;
    std::vector<BoardLine> rows_;  // the ports' lines, then the total line
    std::size_t rows_drawn_ = 0;   // lines of the board on the screen, above the cursor
    bool board_ended_ = false;
};

}  // namespace vrk::cli
