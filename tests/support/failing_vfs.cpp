#include "tests/support/failing_vfs.h"

#include <sqlite3.h>

#include <cerrno>
#include <mutex>

namespace vrk::test {

namespace {

VfsFaults faults;
sqlite3_vfs* system_vfs = nullptr;
sqlite3_vfs wrapper_vfs{};

// Our file: SQLite's handle, then the system VFS's file in the same allocation.
struct WrappedFile {
    sqlite3_file base;
    sqlite3_file* real;
};

sqlite3_file* real(sqlite3_file* file) {
    return reinterpret_cast<WrappedFile*>(file)->real;
}

// Hands a call of the file's methods on to the system VFS's file.
template <auto Method, typename... Arguments>
auto forward(sqlite3_file* f, Arguments... arguments) {
    return (real(f)->pMethods->*Method)(real(f), arguments...);
}

int x_write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
    if (const int error = faults.write_error.load(); error != 0) {
        errno = faults.system_errno.load();
        return error;
    }
    return forward<&sqlite3_io_methods::xWrite>(f, buffer, amount, offset);
}
int x_truncate(sqlite3_file* f, sqlite3_int64 size) {
    if (const int error = faults.write_error.load(); error != 0) {
        errno = faults.system_errno.load();
        return error;
    }
    return forward<&sqlite3_io_methods::xTruncate>(f, size);
}

int x_shm_map(sqlite3_file* f, int page, int size, int extend, void volatile** memory) {
    if (faults.no_side_files.load()) {
        errno = faults.system_errno.load();
        return SQLITE_CANTOPEN;
    }
    return forward<&sqlite3_io_methods::xShmMap>(f, page, size, extend, memory);
}

using M = sqlite3_io_methods;
const sqlite3_io_methods wrapped_methods = {
    3,
    forward<&M::xClose>,
    forward<&M::xRead, void*, int, sqlite3_int64>,
    x_write,
    x_truncate,
    forward<&M::xSync, int>,
    forward<&M::xFileSize, sqlite3_int64*>,
    forward<&M::xLock, int>,
    forward<&M::xUnlock, int>,
    forward<&M::xCheckReservedLock, int*>,
    forward<&M::xFileControl, int, void*>,
    forward<&M::xSectorSize>,
    forward<&M::xDeviceCharacteristics>,
    x_shm_map,
    forward<&M::xShmLock, int, int, int>,
    forward<&M::xShmBarrier>,
    forward<&M::xShmUnmap, int>,
    forward<&M::xFetch, sqlite3_int64, int, void**>,
    forward<&M::xUnfetch, sqlite3_int64, void*>,
};

int x_open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
    auto* wrapped = reinterpret_cast<WrappedFile*>(file);
    wrapped->real = reinterpret_cast<sqlite3_file*>(wrapped + 1);
    wrapped->base.pMethods = nullptr;
    if (faults.read_only.load() && (flags & SQLITE_OPEN_MAIN_DB) != 0)
        flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
    if (faults.no_side_files.load() && (flags & SQLITE_OPEN_MAIN_DB) == 0 &&
        (flags & SQLITE_OPEN_READWRITE) != 0) {
        errno = faults.system_errno.load();
        return SQLITE_CANTOPEN;
    }
    const int code = system_vfs->xOpen(system_vfs, name, wrapped->real, flags, out_flags);
    // A file the system could not open has no methods: SQLite then calls no xClose on it.
    if (code == SQLITE_OK && wrapped->real->pMethods != nullptr)
        wrapped->base.pMethods = &wrapped_methods;
    return code;
}

// SQLite asks for the system's error number after a failure: the fault's, while one is set.
int x_get_last_error(sqlite3_vfs* vfs, int size, char* text) {
    if (const int error = faults.system_errno.load(); error != 0) return error;
    return system_vfs->xGetLastError(vfs, size, text);
}

}  // namespace

const char* failing_vfs() {
    static std::once_flag once;
    std::call_once(once, [] {
        system_vfs = sqlite3_vfs_find(nullptr);
        // The system VFS's own entries serve everything but the files themselves.
        wrapper_vfs = *system_vfs;
        wrapper_vfs.zName = "vrk_failing";
        wrapper_vfs.pNext = nullptr;
        wrapper_vfs.szOsFile = static_cast<int>(sizeof(WrappedFile)) + system_vfs->szOsFile;
        wrapper_vfs.xOpen = x_open;
        wrapper_vfs.xGetLastError = x_get_last_error;
        sqlite3_vfs_register(&wrapper_vfs, 0);
    });
    return wrapper_vfs.zName;
}

VfsFaults& failing_vfs_faults() {
    return faults;
}

}  // namespace vrk::test
