// One line of the operator's board, made of pieces that say what may give way when the
// terminal is narrower than the line: the port, the state or result, the ID and the reason
// are what the operator works from and come whole; an image's path is shortened from its
// middle, the counters and the transfer's rate are left out whole. Words are never cut in two,
// so "0 pas" or a reason without its verb cannot appear.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vrk::cli {

enum class Fit {
    keep,     // shown; cut after a whole word (and "...") only when all else has given way
    shorten,  // a path or a name: its middle parts give way to "...", down to "..." alone,
              // then left out
    trim,     // a reason's words: cut after a whole word (and "..."), down to "..." alone,
              // then left out
    drop,     // shown whole or left out
};

struct BoardPiece {
    std::string text;  // with the spaces that part it from the piece before
    Fit fit = Fit::keep;
};

class BoardLine {
  public:
    BoardLine() = default;
    // A line of one piece that is kept.
    BoardLine(std::string text) { add(std::move(text)); }  // NOLINT: a plain text is a line

    BoardLine& add(std::string text, Fit fit = Fit::keep) {
        if (!text.empty()) pieces_.push_back({std::move(text), fit});
        return *this;
    }
    [[nodiscard]] bool empty() const { return pieces_.empty(); }
    [[nodiscard]] const std::vector<BoardPiece>& pieces() const { return pieces_; }
    // Every piece whole.
    [[nodiscard]] std::string text() const;

  private:
    std::vector<BoardPiece> pieces_;
};

// The line in at most `width` characters (UTF-8 sequences count one each): droppable pieces
// go first, from the last, then shortened ones lose their middle, then trimmed ones their last
// words, then both are left out, and last the whole text is cut after its last word that fits.
[[nodiscard]] std::string fit_line(const BoardLine& line, std::size_t width);

// The characters of a UTF-8 text, as a terminal counts them for the scripts a unit's ID and
// an image's name use (one column each).
[[nodiscard]] std::size_t text_width(std::string_view text);

}  // namespace vrk::cli
