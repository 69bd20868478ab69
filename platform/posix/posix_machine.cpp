// The machine on a POSIX system: uname's node name, the XDG base directories, mkdir.
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/machine.h"
#include "platform/posix/data_directory.h"
#include "platform/posix/errno_classes.h"
#include "platform/time_zone_name.h"

namespace vrk::platform {

namespace posix {

std::optional<std::string> data_directory(const char* xdg_data_home, const char* home) {
    // The XDG rules: a relative $XDG_DATA_HOME is invalid and ignored, as an empty one is.
    if (xdg_data_home != nullptr && xdg_data_home[0] == '/') return std::string(xdg_data_home);
    if (home != nullptr && home[0] != '\0') {
        std::string base = home;
        if (base.back() != '/') base += '/';
        return base + ".local/share";
    }
    return std::nullopt;
}

}  // namespace posix

std::string host_name() {
    struct utsname names {};
    if (::uname(&names) != 0) return {};
    return names.nodename;
}

std::optional<std::string> station_data_directory() {
    // Read at start-up by the one thread that opens the records; nothing here sets variables.
    const auto data = posix::data_directory(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (!data) return std::nullopt;
    return path_in(*data, "vrk");
}

std::string path_in(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + '/' + name;
}

std::optional<std::string> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') return std::nullopt;
    return std::string(value);
}

std::optional<std::string> local_time_zone() {
    std::optional<std::string> tz;
    if (const char* value = std::getenv("TZ"); value != nullptr) tz = value;
    // Debian's /etc/localtime is a link into the zone files; /etc/timezone names the zone
    // where it is a copy instead.
    std::optional<std::string> target;
    char link[4096];
    if (const ssize_t n = ::readlink("/etc/localtime", link, sizeof link); n > 0)
        target = std::string(link, static_cast<std::size_t>(n));
    std::optional<std::string> named;
    if (std::FILE* file = std::fopen("/etc/timezone", "r"); file != nullptr) {
        char line[256] = {};
        if (std::fgets(line, sizeof line, file) != nullptr) named = line;
        std::fclose(file);
    }
    return time_zone_name(tz, target, named);
}

bool make_directories(const std::string& path, FileError* error) {
    if (path.empty()) {
        if (error != nullptr) *error = FileError::not_found;
        return false;
    }
    // Each parent in turn, as mkdir -p: one that exists already is fine, if it is a folder.
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0777) == 0) continue;
        const int failure = errno;
        struct stat info {};
        if (failure == EEXIST && ::stat(part.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            continue;
        if (error != nullptr)
            *error =
                failure == EEXIST ? FileError::io_failure : posix::classify_file_error(failure);
        return false;
    }
    if (error != nullptr) *error = FileError::none;
    return true;
}

WriteBlock why_unwritable(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    struct statvfs medium {};
    if (::statvfs(folder.c_str(), &medium) != 0) return WriteBlock::none;
    if ((medium.f_flag & ST_RDONLY) != 0) return WriteBlock::read_only_medium;
    // access() answers for the real user, as the open would: root passes where others would
    // not, and so does its open.
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0)
        return WriteBlock::read_only_file;
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return WriteBlock::folder_not_writable;
    // Blocks for anyone but root: what an ordinary user's write may take.
    if (medium.f_bavail == 0) return WriteBlock::disk_full;
    return WriteBlock::none;
}

SystemFault system_fault(int system_error) {
    switch (system_error) {
        case ENOENT:
        case ENOTDIR:
            return SystemFault::missing;
        case EACCES:
        case EPERM:
            return SystemFault::permission;
        case EROFS:
            return SystemFault::read_only_medium;
        case ENOSPC:
        case EDQUOT:
            return SystemFault::disk_full;
        default:
            return SystemFault::other;
    }
}

}  // namespace vrk::platform
