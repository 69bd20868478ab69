// A SQLite VFS for tests of the station's records on a medium that fails: it hands everything
// to the system's default VFS, except that, while a test says so, every write (and truncation)
// fails with the code given (SQLITE_FULL as a full disk, SQLITE_IOERR_WRITE as a failing one),
// database files open read-only, as a file without write permission does, or the files SQLite
// keeps beside a database (its journal, write-ahead log and shared memory) cannot be made, as
// in a folder that cannot be written or on a file system mounted read-only. The system's error
// number that goes with the fault is what SQLite hears when it asks. Works the same for root,
// which file permissions do not stop.
#pragma once

#include <atomic>

namespace vrk::test {

struct VfsFaults {
    std::atomic<int> write_error{0};         // 0: writes pass
    std::atomic<bool> read_only{false};      // main database files open read-only
    std::atomic<bool> no_side_files{false};  // journals, WAL and shared memory cannot be made
    std::atomic<int> system_errno{0};        // the system's error the fault comes with
    // What a look at the medium tells (platform::WriteBlock as a number): the store asks it
    // when SQLite cannot say why it cannot write.
    std::atomic<int> medium{0};

    void clear() {
        write_error = 0;
        read_only = false;
        no_side_files = false;
        system_errno = 0;
        medium = 0;
    }
};

// Registers the VFS (once; not as the default) and returns its name for sqlite3_open_v2.
[[nodiscard]] const char* failing_vfs();
// The faults it applies now; every test that sets them clears them when it ends.
[[nodiscard]] VfsFaults& failing_vfs_faults();

}  // namespace vrk::test
