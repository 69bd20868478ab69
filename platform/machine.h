// What the production station's records need of the machine: its name, where the records live,
// making the folder for them, and the environment's settings. platform/posix/ and
// platform/win32/ implement these; each may be called from any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/files.h"

namespace vrk::platform {

// The machine's name on the network ("station-3"); empty when the system does not tell.
[[nodiscard]] std::string host_name();

// The folder the station's records are kept in when no file is named, not made yet. POSIX:
// the user's own, $XDG_DATA_HOME/vrk, else ~/.local/share/vrk (a Linux station is one login's).
// Windows: the machine's, %ProgramData%\vrk, which every login on the PC shares, so that two
// operators taking turns on one station PC never count IDs apart (the installer makes it and
// lets the PC's users write in it). nullopt when the system names none.
[[nodiscard]] std::optional<std::string> station_data_directory();

// The path of `name` inside `folder`, joined with this system's separator.
[[nodiscard]] std::string path_in(const std::string& folder, const std::string& name);

// The value of the environment variable `name`; nullopt when it is not set or empty.
[[nodiscard]] std::optional<std::string> environment_variable(const char* name);

// The machine's time zone as the zone files name it ("Europe/Berlin"), or the POSIX rule TZ
// holds; nullopt when this process's zone has no name a server would know (time_zone_name.h).
[[nodiscard]] std::optional<std::string> local_time_zone();

// Creates the folder `path` with its missing parents (an existing folder is fine). false, with
// the reason in *error (when given), when it cannot be made.
[[nodiscard]] bool make_directories(const std::string& path, FileError* error);

// Why a file (and the files a database keeps beside it) cannot be written, as far as the
// system tells without writing: a file system mounted read-only, the file without write
// permission, a folder where no file may be made, or no space left. `none` when nothing
// stands in the way that it can tell (or the file's folder does not exist).
enum class WriteBlock { none, read_only_medium, read_only_file, folder_not_writable, disk_full };
[[nodiscard]] WriteBlock why_unwritable(const std::string& path);

// What a system error number that a file operation failed with says, in the system's own
// numbers (errno on POSIX, GetLastError() on Windows; SQLite keeps whichever its system gave).
enum class SystemFault { other, missing, permission, read_only_medium, disk_full };
[[nodiscard]] SystemFault system_fault(int system_error);

}  // namespace vrk::platform
