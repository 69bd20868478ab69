// A SQLite VFS for tests of the station's records on a medium that fails: it hands everything
// to the system's default VFS, except that, while a test says so, every write (and truncation)
// fails with the code given (SQLITE_FULL as a full disk, SQLITE_IOERR_WRITE as a failing one),
// or database files open read-only, as a file without write permission does. Works the same
// for root, which file permissions do not stop.
#pragma once

#include <atomic>

namespace vrk::test {

struct VfsFaults {
    std::atomic<int> write_error{0};     // 0: writes pass
    std::atomic<bool> read_only{false};  // main database files open read-only
};

// Registers the VFS (once; not as the default) and returns its name for sqlite3_open_v2.
[[nodiscard]] const char* failing_vfs();
// The faults it applies now; every test that sets them clears them when it ends.
[[nodiscard]] VfsFaults& failing_vfs_faults();

}  // namespace vrk::test
