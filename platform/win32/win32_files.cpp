// Files on Windows: the image list of the current directory, image reads and the macro file.
// Writes are checked to the last byte, so that a macro file cut short by a full disk can be
// told from a whole one before the unit's BIOS plays it.
#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/path_names.h"
#include "platform/win32/error_classes.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_platform.h"

namespace vrk::platform {
namespace {

void report(FileError* error, FileError value) {
    if (error != nullptr) *error = value;
}

HANDLE native(const win32::UniqueHandle& handle) {
    return static_cast<HANDLE>(handle.get());
}

class Win32InputFile final : public InputFile {
  public:
    explicit Win32InputFile(win32::UniqueHandle handle) : handle_(std::move(handle)) {}

    std::optional<std::uint64_t> size() override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(native(handle_), &size) || size.QuadPart < 0) return std::nullopt;
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    std::optional<std::size_t> read(std::span<std::uint8_t> buffer) override {
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), MAXDWORD));
        if (!::ReadFile(native(handle_), buffer.data(), wanted, &got, nullptr)) return std::nullopt;
        return got;
    }

  private:
    win32::UniqueHandle handle_;
};

class Win32OutputFile final : public OutputFile {
  public:
    explicit Win32OutputFile(win32::UniqueHandle handle) : handle_(std::move(handle)) {}
    ~Win32OutputFile() override { (void)close(); }
    Win32OutputFile(const Win32OutputFile&) = delete;
    Win32OutputFile& operator=(const Win32OutputFile&) = delete;

    bool write(std::span<const std::uint8_t> bytes) override {
        if (!handle_) return false;
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD count = 0;
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, MAXDWORD));
            if (!::WriteFile(native(handle_), bytes.data() + done, chunk, &count, nullptr) ||
                count == 0) {
                // ERROR_DISK_FULL, a removed medium, a lost network share: the file is short.
                intact_ = false;
                return false;
            }
            done += count;
        }
        return true;
    }

    bool close() override {
        if (!handle_) return intact_;
        // No FlushFileBuffers: the macro file is an ordinary document, and the system reports
        // the errors that matter here at write or at close.
        if (!handle_.reset()) intact_ = false;
        return intact_;
    }

  private:
    win32::UniqueHandle handle_;
    bool intact_ = true;  // every byte handed to write() was taken, and the close succeeded
};

}  // namespace

std::string Win32FileSystem::current_directory() {
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return ".";
    std::vector<wchar_t> path(needed);
    const DWORD length = ::GetCurrentDirectoryW(needed, path.data());
    if (length == 0 || length >= needed) return ".";
    return win32::wide_to_utf8(std::wstring_view(path.data(), length));
}

bool Win32FileSystem::change_directory(const std::string& path) {
    return ::SetCurrentDirectoryW(win32::to_wide(path).c_str()) != FALSE;
}

std::vector<std::string> Win32FileSystem::find_files(const std::string& extension) {
    std::vector<std::string> names;
    // Every entry, filtered here: a pattern such as "*.vr4" would also match the short 8.3
    // names of files whose long names end otherwise ("x.vr4old" is "X~1.VR4").
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW(L".\\*", &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
            continue;
        std::string name = win32::wide_to_utf8(entry.cFileName);
        if (ends_with_ignoring_case(name, extension)) names.push_back(std::move(name));
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return names;
}

namespace {

// A folder of the name exists but is no file: an I/O failure, as on Linux. CreateFile would
// say "access denied", which reads as a permission problem.
bool is_folder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::unique_ptr<InputFile> Win32FileSystem::open_read(const std::string& path, FileError* error) {
    const std::wstring wide = win32::to_wide(path);
    if (is_folder(wide)) {
        report(error, FileError::io_failure);
        return nullptr;
    }
    // Read sharing only: an image another program still holds open for writing (a copy or a
    // build not yet finished) is refused, not read half written and flashed; and while we read
    // it, nobody can start writing it.
    win32::UniqueHandle handle(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        report(error, win32::classify_file_error(::GetLastError()));
        return nullptr;
    }
    // A device or a pipe of that name ("NUL", "COM1", "\\.\pipe\x") is no image either.
    if (::GetFileType(native(handle)) != FILE_TYPE_DISK) {
        report(error, FileError::io_failure);
        return nullptr;
    }
    report(error, FileError::none);
    return std::make_unique<Win32InputFile>(std::move(handle));
}

std::unique_ptr<OutputFile> Win32FileSystem::create(const std::string& path, FileError* error) {
    const std::wstring wide = win32::to_wide(path);
    if (is_folder(wide)) {
        report(error, FileError::io_failure);
        return nullptr;
    }
    win32::UniqueHandle handle(::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        report(error, win32::classify_file_error(::GetLastError()));
        return nullptr;
    }
    report(error, FileError::none);
    return std::make_unique<Win32OutputFile>(std::move(handle));
}

}  // namespace vrk::platform
