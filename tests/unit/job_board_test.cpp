// The operator's board as the operator sees it: the bytes vrk writes to standard error (and
// standard output, the same terminal) played on a model of the terminal at 40, 64 and 120
// columns, for four ports during a run, after a run with one failing unit, after Ctrl+C and
// across a change of the window's width.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/board_line.h"
#include "app/cli/board_reporter.h"
#include "app/cli/line_tally.h"
#include "app/cli/output.h"
#include "tests/support/fakes.h"

namespace vrk::test {
namespace {

using namespace cli;

// A terminal that wraps at its width, knows the board's few escape sequences, and re-wraps
// its lines when made narrower (as tmux and most desktop terminals do).
class Screen {
  public:
    explicit Screen(std::size_t width) : width_(width), lines_(1) {}

    void play(const std::string& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c == '\n') {
                newline();
            } else if (c == '\a') {
                ++bells;
            } else if (c == '\x1b') {
                std::size_t n = 0;
                std::size_t j = i + 2;  // after "\x1b["
                while (j < bytes.size() && bytes[j] >= '0' && bytes[j] <= '9')
                    n = n * 10 + static_cast<std::size_t>(bytes[j++] - '0');
                if (bytes[j] == 'F') {
                    row_ = row_ >= n ? row_ - n : 0;
                    column_ = 0;
                } else if (bytes[j] == 'J') {
                    lines_[row_].resize(std::min(lines_[row_].size(), column_));
                    lines_.resize(row_ + 1);
                } else {
                    ADD_FAILURE() << "an escape sequence the board does not use: " << bytes[j];
                }
                i = j;
            } else {
                std::size_t end = i + 1;
                while (end < bytes.size() &&
                       (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)
                    ++end;
                put(bytes.substr(i, end - i));
                i = end - 1;
            }
        }
    }

    void resize(std::size_t width) {
        std::vector<std::vector<std::string>> lines;
        std::size_t row = 0;
        for (std::size_t r = 0; r < lines_.size(); ++r) {
            if (r == row_) row = lines.size();
            const auto& line = lines_[r];
            if (line.empty()) lines.emplace_back();
            for (std::size_t at = 0; at < line.size(); at += width)
                lines.emplace_back(
                    line.begin() + static_cast<std::ptrdiff_t>(at),
                    line.begin() + static_cast<std::ptrdiff_t>(std::min(line.size(), at + width)));
        }
        lines_ = std::move(lines);
        row_ = row;
        column_ = 0;
        width_ = width;
    }

    // The screen's text, a line each, without the empty line the cursor waits on.
    [[nodiscard]] std::string text() const {
        std::string out;
        for (const auto& line : lines_) {
            for (const std::string& cell : line) out += cell;
            out += '\n';
        }
        while (out.size() >= 2 && out.substr(out.size() - 2) == "\n\n") out.pop_back();
        return out;
    }

    int bells = 0;

  private:
    void newline() {
        ++row_;
        column_ = 0;
        if (row_ == lines_.size()) lines_.emplace_back();
    }
    void put(std::string cell) {
        if (column_ == width_) newline();
        auto& line = lines_[row_];
        if (line.size() <= column_) line.resize(column_ + 1, " ");
        line[column_++] = std::move(cell);
    }

    std::size_t width_;
    std::vector<std::vector<std::string>> lines_;
    std::size_t row_ = 0, column_ = 0;
};

UnitIdentity unit(std::int32_t serial, std::string id) {
    UnitIdentity u;
    u.id = id;
    u.id_utf8 = std::move(id);
    VersionFacts v;
    v.serial_number = serial;
    v.version = "2.15";
    u.version = v;
    return u;
}

const char* const IMAGE = "images/release-2026-12/production/vrk700-app.vr4";

// Four ports' boards on one terminal, and the run's events as the flow sends them.
class Station {
  public:
    explicit Station(std::size_t width) : screen(width), columns_(static_cast<int>(width)) {
        stream_ = open_memstream(&buffer_, &size_);
        OutputSettings settings;
        settings.board = true;
        settings.columns = columns_;
        settings.columns_now = [this] { return std::optional<int>(columns_); };
        settings.board_rows = 4;
        output_ = std::make_unique<Output>(settings, stream_, stream_);
        for (std::size_t i = 0; i < 4; ++i)
            boards_.push_back(std::make_unique<BoardReporter>(
                *output_, FinalMode::run, "/dev/ttyUSB" + std::to_string(i), i, 12, clock, line));
    }
    ~Station() {
        std::fclose(stream_);
        std::free(buffer_);
    }

    BoardReporter& port(std::size_t i) { return *boards_[i]; }

    void programming(std::size_t i, std::int32_t serial, const std::string& id) {
        port(i).unit_found(unit(serial, id), 115200);
        port(i).step_started(RecipeStep::download);
        port(i).operation_started({device::OperationKind::download_and_verify,
                                   device::Phase::programming, "vrk700-app.vr4", 100000, 391});
    }
    void progress(std::size_t i, std::uint32_t done) {
        port(i).progress({device::Phase::programming, done, 391});
    }
    void finish(std::size_t i, std::int32_t serial, const std::string& id, std::string result,
                std::string message, std::string run_key = {}) {
        UnitOutcome outcome;
        if (!run_key.empty()) outcome.program = ProgramFacts{run_key, {}, {}, {}};
        outcome.command = Command::program;
        outcome.unit = unit(serial, id);
        outcome.result = std::move(result);
        outcome.exit_code = outcome.result == "success" ? EXIT_OK : EXIT_FAILED;
        outcome.message = std::move(message);
        outcome.duration_ms = 41'300;
        TransferFacts transfer;
        transfer.image = IMAGE;
        outcome.transfer = transfer;
        line.unit_ended(i, outcome.ok());
        port(i).unit_finished(outcome);
    }
    void end(const std::string& summary) {
        output_->end_board();
        output_->result(summary);
    }
    void resize(int width) {
        play();
        columns_ = width;
        screen.resize(static_cast<std::size_t>(width));
    }
    // What the screen shows now.
    std::string shown() {
        play();
        return screen.text();
    }

    FakeClock clock;
    LineTally line{4, std::nullopt, std::nullopt};
    Screen screen;

  private:
    void play() {
        std::fflush(stream_);
        screen.play(std::string(buffer_, size_).substr(played_));
        played_ = size_;
    }

    int columns_;
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::size_t played_ = 0;
    std::FILE* stream_ = nullptr;
    std::unique_ptr<Output> output_;
    std::vector<std::unique_ptr<BoardReporter>> boards_;
};

// Port 0 programs, port 1 has passed a unit still in its socket, port 2's unit stopped
// answering, port 3's unit failed its verify.
void a_shift(Station& s) {
    s.programming(1, 70002, "VRK00002");
    s.clock.advance(41'000);
    s.progress(1, 391);
    s.finish(1, 70002, "L100002", "success", "");
    s.port(1).waiting(Waiting::next_unit);
    s.port(1).link_up(115200);
    s.port(1).unit_left_in_place(unit(70002, "L100002"));

    s.programming(3, 70004, "VRK00004");
    s.clock.advance(1'000);
    s.progress(3, 391);
    s.finish(3, 70004, "VRK00004", "mismatch", std::string(IMAGE) + " doesn't match!!!!!");
    s.port(3).waiting(Waiting::next_unit);

    s.programming(2, 70003, "VRK00003");
    s.clock.advance(4'000);
    s.progress(2, 20);
    s.port(2).page_sent({device::Phase::programming, 370, true});
    s.port(2).page_sent({device::Phase::programming, 370, true});

    s.programming(0, 70001, "VRK00001");
    s.clock.advance(2'000);
    s.progress(0, 168);
}

struct BoardCase {
    std::string name;
    int width;
    std::function<void(Station&)> script;
    std::string screen;
};

void PrintTo(const BoardCase& c, std::ostream* out) {
    *out << c.name;
}

void run_ends(Station& s) {
    a_shift(s);
    s.clock.advance(3'000);
    s.finish(0, 70001, "L100001", "success", "");
    s.finish(2, 70003, "VRK00003", "success", "");
    s.end("total: 4 units, 3 succeeded, 1 failed, yield 75.0 %");
}

void interrupted(Station& s) {
    a_shift(s);
    s.finish(0, 70001, "VRK00001", "interrupted", "Interrupted.");
    s.finish(2, 70003, "VRK00003", "interrupted", "Interrupted.");
    s.end("total: 4 units, 1 succeeded, 3 failed, yield 25.0 %");
}

// Port 0's hook failed; port 2 waits for room in the hooks' queue, then its hook passes.
void hooks_report(Station& s) {
    a_shift(s);
    s.finish(0, 70001, "L100001", "success", "", "k1");
    s.port(0).hook_ended({"k1", "exit 3", "printer offline", true});
    s.finish(2, 70003, "VRK00003", "mismatch", "Verify failed.", "k3");
    s.port(2).waiting(Waiting::hooks);
}

void hooks_report_after_the_wait(Station& s) {
    hooks_report(s);
    s.port(0).hook_ended({"k0", "timed out", "", true});  // an earlier unit's: not shown
    s.port(2).waiting(Waiting::next_unit);
    s.port(2).hook_ended({"k3", "exit 0", "", false});
}

std::function<void(Station&)> resized(int to) {
    return [to](Station& s) {
        a_shift(s);
        s.resize(to);
        s.clock.advance(200);
        s.progress(0, 200);
        s.end("total: 2 units, 1 succeeded, 1 failed, yield 50.0 %");
    };
}

const std::vector<BoardCase>& board_cases() {
    static const std::vector<BoardCase> table = {
        {"during_a_run_at_120", 120, a_shift,
         "/dev/ttyUSB0  programming  42 % 168/391 pages 0:03 left 21.0 KiB/s  0 passed, 0 failed\n"
         "/dev/ttyUSB1  PASS L100002 serial 70002 41.3 s - remove unit      1 passed, 0 failed\n"
         "/dev/ttyUSB2  retrying page 371 (20 of 391 done)                  0 passed, 0 failed\n"
         "/dev/ttyUSB3  FAIL VRK00004 mismatch: images/release-2026-12/production/vrk700-app.vr4 "
         "doesn't match!!!!!\n"
         "total: 1 passed, 1 failed, yield 50.0 %\n"},
        {"during_a_run_at_64", 64, a_shift,
         "/dev/ttyUSB0  programming  42 % 168/391 pages 0:03 left\n"
         "/dev/ttyUSB1  PASS L100002 serial 70002 41.3 s - remove unit\n"
         "/dev/ttyUSB2  retrying page 371 (20 of 391 done)\n"
         "/dev/ttyUSB3  FAIL VRK00004 mismatch: ... doesn't match!!!!!\n"
         "total: 1 passed, 1 failed, yield 50.0 %\n"},
        {"during_a_run_at_40", 40, a_shift,
         "/dev/ttyUSB0  programming  42 %\n"
         "/dev/ttyUSB1  PASS L100002 serial 70002\n"
         "/dev/ttyUSB2  retrying page 371\n"
         "/dev/ttyUSB3  FAIL VRK00004 mismatch\n"
         "total: 1 passed, 1 failed, yield 50.0 %\n"},
        {"after_a_run_with_one_failing_unit_at_120", 120, run_ends,
         "/dev/ttyUSB0  PASS L100001 serial 70001 41.3 s                    1 passed, 0 failed\n"
         "/dev/ttyUSB1  PASS L100002 serial 70002 41.3 s - remove unit      1 passed, 0 failed\n"
         "/dev/ttyUSB2  PASS VRK00003 serial 70003 41.3 s                   1 passed, 0 failed\n"
         "/dev/ttyUSB3  FAIL VRK00004 mismatch: images/release-2026-12/production/vrk700-app.vr4 "
         "doesn't match!!!!!\n"
         "total: 3 passed, 1 failed, yield 75.0 %\n"
         "total: 4 units, 3 succeeded, 1 failed, yield 75.0 %\n"},
        {"after_a_run_with_one_failing_unit_at_64", 64, run_ends,
         "/dev/ttyUSB0  PASS L100001 serial 70001 41.3 s\n"
         "/dev/ttyUSB1  PASS L100002 serial 70002 41.3 s - remove unit\n"
         "/dev/ttyUSB2  PASS VRK00003 serial 70003 41.3 s\n"
         "/dev/ttyUSB3  FAIL VRK00004 mismatch: ... doesn't match!!!!!\n"
         "total: 3 passed, 1 failed, yield 75.0 %\n"
         "total: 4 units, 3 succeeded, 1 failed, yield 75.0 %\n"},
        {"after_ctrl_c_at_64", 64, interrupted,
         "/dev/ttyUSB0  FAIL VRK00001 interrupted: Interrupted.\n"
         "/dev/ttyUSB1  PASS L100002 serial 70002 41.3 s - remove unit\n"
         "/dev/ttyUSB2  FAIL VRK00003 interrupted: Interrupted.\n"
         "/dev/ttyUSB3  FAIL VRK00004 mismatch: ... doesn't match!!!!!\n"
         "total: 1 passed, 3 failed, yield 25.0 %\n"
         "total: 4 units, 1 succeeded, 3 failed, yield 25.0 %\n"},
        {"waiting_for_the_hooks_at_120", 120, hooks_report,
         "/dev/ttyUSB0  PASS L100001 serial 70001 41.3 s hook exit 3        1 passed, 0 failed\n"
         "/dev/ttyUSB1  PASS L100002 serial 70002 41.3 s - remove unit      1 passed, 0 failed\n"
         "/dev/ttyUSB2  FAIL VRK00003 mismatch: Verify failed. - waiting for the hooks  0 passed, "
         "1 failed\n"
         "/dev/ttyUSB3  FAIL VRK00004 mismatch: images/release-2026-12/production/vrk700-app.vr4 "
         "doesn't match!!!!!\n"
         "total: 2 passed, 2 failed, yield 50.0 %\n"},
        // A hook that passed gives way on a narrow line; one that failed stays.
        {"hooks_at_64", 64, hooks_report_after_the_wait,
         "/dev/ttyUSB0  PASS L100001 serial 70001 41.3 s hook exit 3\n"
         "/dev/ttyUSB1  PASS L100002 serial 70002 41.3 s - remove unit\n"
         "/dev/ttyUSB2  FAIL VRK00003 mismatch: Verify failed.\n"
         "/dev/ttyUSB3  FAIL VRK00004 mismatch: ... doesn't match!!!!!\n"
         "total: 2 passed, 2 failed, yield 50.0 %\n"},
        {"made_narrower_from_120_to_64", 120, resized(64),
         "/dev/ttyUSB0  programming  42 % 168/391 pages 0:03 left 21.0 KiB\n"
         "/s  0 passed, 0 failed\n"
         "/dev/ttyUSB1  PASS L100002 serial 70002 41.3 s - remove unit    \n"
         "  1 passed, 0 failed\n"
         "/dev/ttyUSB2  retrying page 371 (20 of 391 done)                \n"
         "  0 passed, 0 failed\n"
         "/dev/ttyUSB3  FAIL VRK00004 mismatch: images/release-2026-12/pro\n"
         "duction/vrk700-app.vr4 doesn't match!!!!!\n"
         "total: 1 passed, 1 failed, yield 50.0 %\n"
         "/dev/ttyUSB0  programming  51 % 200/391 pages 0:03 left\n"
         "/dev/ttyUSB1  PASS L100002 serial 70002 41.3 s - remove unit\n"
         "/dev/ttyUSB2  retrying page 371 (20 of 391 done)\n"
         "/dev/ttyUSB3  FAIL VRK00004 mismatch: ... doesn't match!!!!!\n"
         "total: 1 passed, 1 failed, yield 50.0 %\n"
         "total: 2 units, 1 succeeded, 1 failed, yield 50.0 %\n"},
        {"made_wider_from_40_to_120", 40, resized(120),
         "/dev/ttyUSB0  programming  51 % 200/391 pages 0:03 left 22.7 KiB/s  0 passed, 0 failed\n"
         "/dev/ttyUSB1  PASS L100002 serial 70002 41.3 s - remove unit      1 passed, 0 failed\n"
         "/dev/ttyUSB2  retrying page 371 (20 of 391 done)                  0 passed, 0 failed\n"
         "/dev/ttyUSB3  FAIL VRK00004 mismatch: images/release-2026-12/production/vrk700-app.vr4 "
         "doesn't match!!!!!\n"
         "total: 1 passed, 1 failed, yield 50.0 %\n"
         "total: 2 units, 1 succeeded, 1 failed, yield 50.0 %\n"},
    };
    return table;
}

// The rules each line is fitted by, on lines the board does not make today.
TEST(BoardLine, GivesWayWithoutCuttingAWord) {
    struct Case {
        BoardLine line;
        std::size_t width;
        std::string shown;
    };
    const auto line = [](std::vector<BoardPiece> pieces) {
        BoardLine l;
        for (BoardPiece& p : pieces) l.add(std::move(p.text), p.fit);
        return l;
    };
    const Case cases[] = {
        // An ID in another script counts one column a character, not a byte.
        {line({{"p0  PASS \u05D0\u05D1\u05D2\u05D3"}, {"  1 passed", Fit::drop}}), 23,
         "p0  PASS \u05D0\u05D1\u05D2\u05D3  1 passed"},
        {line({{"p0  PASS \u05D0\u05D1\u05D2\u05D3"}, {"  1 passed", Fit::drop}}), 22,
         "p0  PASS \u05D0\u05D1\u05D2\u05D3"},
        // A path loses its middle folders first, its file's name last.
        {line({{"a"}, {" x/one/two/three/app.vr4", Fit::shorten}}), 20, "a x/one/.../app.vr4"},
        {line({{"a"}, {" x/one/two/three/app.vr4", Fit::shorten}}), 15, "a x/.../app.vr4"},
        {line({{"a"}, {" x/one/two/three/app.vr4", Fit::shorten}}), 13, "a .../app.vr4"},
        {line({{"a"}, {" x/one/two/three/app.vr4", Fit::shorten}}), 6, "a ..."},
        // A reason keeps its words whole.
        {line({{"p0  FAIL"}, {": the unit stopped answering", Fit::trim}}), 26,
         "p0  FAIL: the unit..."},
        // Kept text alone too long: cut after a word, a word longer than the line cut.
        {line({{"p0  setting the device settings"}}), 20, "p0  setting the..."},
        {line({{"/dev/serial/by-id/usb-FTDI_FT232R"}}), 12, "/dev/seri..."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fit_line(c.line, c.width), c.shown) << c.line.text() << " at " << c.width;
}

class Board : public ::testing::TestWithParam<BoardCase> {};

TEST_P(Board, ShowsWhatTheOperatorWorksFrom) {
    const BoardCase& c = GetParam();
    Station station(static_cast<std::size_t>(c.width));
    c.script(station);
    EXPECT_EQ(station.shown(), c.screen) << "\n" << station.shown();
}

INSTANTIATE_TEST_SUITE_P(Golden, Board, ::testing::ValuesIn(board_cases()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace vrk::test
