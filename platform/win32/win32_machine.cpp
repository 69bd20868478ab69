// The machine on Windows: the computer's name, %LOCALAPPDATA%, CreateDirectory.
#include <windows.h>

#include <cstdlib>

#include "platform/machine.h"
#include "platform/win32/error_classes.h"

namespace vrk::platform {

std::string host_name() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size)) return {};
    return std::string(name, size);
}

std::optional<std::string> user_data_directory() {
    const char* local = std::getenv("LOCALAPPDATA");
    if (local == nullptr || local[0] == '\0') return std::nullopt;
    return std::string(local);
}

bool make_directories(const std::string& path, FileError* error) {
    if (path.empty()) {
        if (error != nullptr) *error = FileError::not_found;
        return false;
    }
    // Each parent in turn; a drive ("C:") or a share's root exists or cannot be made anyway.
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '\\' && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (part.back() == ':') continue;
        if (::CreateDirectoryA(part.c_str(), nullptr)) continue;
        const DWORD failure = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesA(part.c_str());
        if (failure == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        if (error != nullptr) *error = win32::classify_file_error(failure);
        return false;
    }
    if (error != nullptr) *error = FileError::none;
    return true;
}

WriteBlock why_unwritable(const std::string&) {
    // The station's records are not kept on Windows yet: nothing asks.
    return WriteBlock::none;
}

}  // namespace vrk::platform
