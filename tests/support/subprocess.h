// A program started by a test, as a shell starts it: its standard output read line by line as
// it comes, its standard error collected, signals sent to it, its exit status awaited. For the
// end-to-end tests of the command-line tool, which must run the real program.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vrk::test {

class Subprocess {
  public:
    // Starts `program` with `arguments` (without the program's name) in the current directory.
    Subprocess(const std::string& program, const std::vector<std::string>& arguments);
    ~Subprocess();  // kills a program still running
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    // Reads output until a whole line of standard output satisfies `wanted` (true), the program
    // ends or the limit passes (false).
    bool wait_for_line(const std::function<bool(const std::string&)>& wanted,
                       std::chrono::milliseconds limit);
    // Sends the interrupt (Ctrl+C).
    void interrupt();
    // Kills it at once (SIGKILL), as a crash or a power cut ends it, and waits for its end.
    void kill();
    // Reads everything until the program ends; its exit code, or nullopt when it did not end
    // within the limit (it is killed then) or ended by a signal.
    std::optional<int> finish(std::chrono::milliseconds limit);

    [[nodiscard]] const std::vector<std::string>& lines() const { return lines_; }
    [[nodiscard]] const std::string& errors() const { return errors_; }

  private:
    // Reads what arrives within the limit; false once both streams are closed.
    bool pump(std::chrono::milliseconds limit);

    int pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
    std::size_t checked_ = 0;  // lines already offered to wait_for_line
    std::string errors_;
};

}  // namespace vrk::test
