// Files on a POSIX system: the image list of the current directory, image reads and the macro
// file. Writes are checked to the last byte, so that a macro file cut short by a full disk can be
// told from a whole one before the unit's BIOS plays it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/path_names.h"
#include "platform/posix/errno_classes.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/unique_fd.h"

namespace vrk::platform {
namespace {

void report(FileError* error, FileError value) {
    if (error != nullptr) *error = value;
}

class PosixInputFile final : public InputFile {
  public:
    explicit PosixInputFile(posix::UniqueFd fd) : fd_(std::move(fd)) {}

    std::optional<std::uint64_t> size() override {
        struct stat info {};
        if (::fstat(fd_.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(info.st_size);
    }

    std::optional<std::size_t> read(std::span<std::uint8_t> buffer) override {
        for (;;) {
            const ssize_t count = ::read(fd_.get(), buffer.data(), buffer.size());
            if (count >= 0) return static_cast<std::size_t>(count);
            if (errno != EINTR) return std::nullopt;
        }
    }

  private:
    posix::UniqueFd fd_;
};

class PosixOutputFile final : public OutputFile {
  public:
    explicit PosixOutputFile(posix::UniqueFd fd) : fd_(std::move(fd)) {}
    ~PosixOutputFile() override { (void)close(); }
    PosixOutputFile(const PosixOutputFile&) = delete;
    PosixOutputFile& operator=(const PosixOutputFile&) = delete;

    bool write(std::span<const std::uint8_t> bytes) override {
        if (!fd_) return false;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t count = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
            if (count > 0) {
                done += static_cast<std::size_t>(count);
                continue;
            }
            if (count < 0 && errno == EINTR) continue;
            // ENOSPC, EDQUOT, EIO, or a write that took nothing: the file is now short.
            intact_ = false;
            return false;
        }
        return true;
    }

    bool close() override {
        if (!fd_) return intact_;
        // No fsync: the macro file is an ordinary document, and the kernel reports the errors
        // that matter here (a full disk, a lost network share) at write or at close. close() is
        // not retried after EINTR (see UniqueFd::reset).
        if (fd_.reset() != 0) intact_ = false;
        return intact_;
    }

  private:
    posix::UniqueFd fd_;
    bool intact_ = true;  // every byte handed to write() was taken, and close succeeded
};

}  // namespace

bool PosixFileSystem::change_directory(const std::string& path) {
    std::error_code error;
    std::filesystem::current_path(path, error);
    return !error;
}

std::string PosixFileSystem::current_directory() {
    std::error_code error;
    const auto path = std::filesystem::current_path(error);
    // The directory can have been removed under us; "." still names it for what follows.
    if (error) return ".";
    return path.string();
}

std::vector<std::string> PosixFileSystem::find_files(const std::string& extension) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entry(".", error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!ends_with_ignoring_case(name, extension)) continue;
        // Follows links: a link to an image is an image; a link to nothing is not listed.
        std::error_code type_error;
        if (!entry->is_regular_file(type_error)) continue;
        names.push_back(name);
    }
    return names;
}

std::unique_ptr<InputFile> PosixFileSystem::open_read(const std::string& path, FileError* error) {
    // O_NONBLOCK so that a FIFO without a writer cannot hang the open; it is refused below.
    posix::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        report(error, posix::classify_file_error(errno));
        return nullptr;
    }
    struct stat info {};
    // A directory, a device or a FIFO of that name exists but is no image: unreadable.
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        report(error, FileError::io_failure);
        return nullptr;
    }
    report(error, FileError::none);
    return std::make_unique<PosixInputFile>(std::move(fd));
}

std::unique_ptr<OutputFile> PosixFileSystem::create(const std::string& path, FileError* error) {
    // Opened without blocking (a FIFO without a reader fails with ENXIO instead of hanging),
    // then switched to blocking writes so the write loop never meets EAGAIN on a device.
    posix::UniqueFd fd(::open(
        path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!fd) {
        report(error, posix::classify_file_error(errno));
        return nullptr;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        report(error, posix::classify_file_error(errno));
        return nullptr;
    }
    report(error, FileError::none);
    return std::make_unique<PosixOutputFile>(std::move(fd));
}

}  // namespace vrk::platform
