// The machine on Windows: the computer's name, the ProgramData folder, CreateDirectory. Paths
// are the program's UTF-8 and go to the W functions, as everywhere in this layer.
#include <windows.h>
// After windows.h: the known folders need its types.
#include <knownfolders.h>
#include <shlobj.h>

#include "platform/machine.h"
#include "platform/time_zone_name.h"
#include "platform/win32/error_classes.h"
#include "platform/win32/wide_text.h"

namespace vrk::platform {

std::string host_name() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size)) return {};
    return std::string(name, size);
}

std::optional<std::string> station_data_directory() {
    // The known folder rather than %ProgramData%: a program started by a service or a
    // scheduled task may have no such variable, and the folder is the same for every login.
    PWSTR folder = nullptr;
    const HRESULT found = ::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder);
    std::optional<std::string> result;
    if (SUCCEEDED(found) && folder != nullptr && folder[0] != L'\0')
        result = path_in(win32::wide_to_utf8(folder), "vrk");
    ::CoTaskMemFree(folder);  // also when it failed: the call may have set it
    return result;
}

std::string path_in(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
    return folder + '\\' + name;
}

std::optional<std::string> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') return std::nullopt;
    return std::string(value);
}

std::optional<std::string> local_time_zone() {
    // Windows names its zones its own way ("W. Europe Standard Time"), which a PostgreSQL
    // server does not know: only TZ, which the C runtime also takes over the system's zone,
    // gives a name (a POSIX rule such as "CET-1CEST", or a zone's name for the server). Without
    // it a line database's report by hour or day asks for TZ or --utc.
    const auto tz = environment_variable("TZ");
    if (!tz) return std::nullopt;
    return time_zone_name(tz, std::nullopt, std::nullopt);
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
        const std::wstring wide = win32::to_wide(part);
        if (::CreateDirectoryW(wide.c_str(), nullptr)) continue;
        const DWORD failure = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(wide.c_str());
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

SystemFault system_fault(int system_error) {
    switch (static_cast<DWORD>(system_error)) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return SystemFault::missing;
        case ERROR_ACCESS_DENIED:
            return SystemFault::permission;
        case ERROR_WRITE_PROTECT:
            return SystemFault::read_only_medium;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return SystemFault::disk_full;
        default:
            return SystemFault::other;
    }
}

}  // namespace vrk::platform
