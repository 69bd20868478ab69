// Files as the program needs them: the image list, the image read, the macro file written.
//
// Threads: one FileSystem may be shared by every session of a process; its calls keep nothing
// between them and go straight to the system. The exception is the current directory, which is
// the process's, not a thread's: change_directory moves it for every thread, so it is called at
// start-up, before any session runs, or not at all. An InputFile or OutputFile it returns
// belongs to the thread that uses it (a macro file to its session, the shared trace file behind
// the command-line tool's own lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vrk::platform {

enum class FileError {
    none,
    not_found,
    access_denied,
    no_space,  // the disk or medium is full
    io_failure,
};

class InputFile {
  public:
    virtual ~InputFile() = default;
    // Size of the file in bytes, or nullopt when the system cannot tell.
    [[nodiscard]] virtual std::optional<std::uint64_t> size() = 0;
    // Reads up to buffer.size() bytes at the current position; returns the count read (0 at the
    // end of the file) or nullopt on a read error.
    [[nodiscard]] virtual std::optional<std::size_t> read(std::span<std::uint8_t> buffer) = 0;
};

class OutputFile {
  public:
    virtual ~OutputFile() = default;
    // Writes all of bytes; false when the system took less (full disk, removed medium, ...).
    [[nodiscard]] virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Flushes and closes; false when the data may not have reached the medium. Idempotent.
    virtual bool close() = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // The process's current directory, without a trailing separator (except for the root).
    [[nodiscard]] virtual std::string current_directory() = 0;
    // Makes `path` the current directory; false (and nothing changed) when it cannot be entered.
    [[nodiscard]] virtual bool change_directory(const std::string& path) = 0;
    // The character that separates directories in the paths this system builds.
    [[nodiscard]] virtual char separator() const = 0;
    // Names (no directory part) of the regular files in the current directory whose names end
    // in the given extension, compared without regard to case (".vr4" finds "APP.VR4").
    [[nodiscard]] virtual std::vector<std::string> find_files(const std::string& extension) = 0;
    // Opens a file for reading, relative to the current directory unless absolute.
    [[nodiscard]] virtual std::unique_ptr<InputFile> open_read(const std::string& path,
                                                               FileError* error) = 0;
    // Creates a file for writing, truncating an existing one.
    [[nodiscard]] virtual std::unique_ptr<OutputFile> create(const std::string& path,
                                                             FileError* error) = 0;
};

}  // namespace vrk::platform
