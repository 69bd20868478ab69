#include "tests/support/failing_vfs.h"

#include <sqlite3.h>

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

int x_close(sqlite3_file* f) {
    return real(f)->pMethods->xClose(real(f));
}
int x_read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    return real(f)->pMethods->xRead(real(f), buffer, amount, offset);
}
int x_write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
    if (const int error = faults.write_error.load(); error != 0) return error;
    return real(f)->pMethods->xWrite(real(f), buffer, amount, offset);
}
int x_truncate(sqlite3_file* f, sqlite3_int64 size) {
    if (const int error = faults.write_error.load(); error != 0) return error;
    return real(f)->pMethods->xTruncate(real(f), size);
}
int x_sync(sqlite3_file* f, int flags) {
    return real(f)->pMethods->xSync(real(f), flags);
}
int x_file_size(sqlite3_file* f, sqlite3_int64* size) {
    return real(f)->pMethods->xFileSize(real(f), size);
}
int x_lock(sqlite3_file* f, int level) {
    return real(f)->pMethods->xLock(real(f), level);
}
int x_unlock(sqlite3_file* f, int level) {
    return real(f)->pMethods->xUnlock(real(f), level);
}
int x_check_reserved_lock(sqlite3_file* f, int* out) {
    return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int x_file_control(sqlite3_file* f, int op, void* arg) {
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int x_sector_size(sqlite3_file* f) {
    return real(f)->pMethods->xSectorSize(real(f));
}
int x_device_characteristics(sqlite3_file* f) {
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
}
int x_shm_map(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
    return real(f)->pMethods->xShmMap(real(f), region, size, extend, out);
}
int x_shm_lock(sqlite3_file* f, int offset, int n, int flags) {
    return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
}
void x_shm_barrier(sqlite3_file* f) {
    real(f)->pMethods->xShmBarrier(real(f));
}
int x_shm_unmap(sqlite3_file* f, int delete_flag) {
    return real(f)->pMethods->xShmUnmap(real(f), delete_flag);
}
int x_fetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    return real(f)->pMethods->xFetch(real(f), offset, amount, out);
}
int x_unfetch(sqlite3_file* f, sqlite3_int64 offset, void* page) {
    return real(f)->pMethods->xUnfetch(real(f), offset, page);
}

const sqlite3_io_methods wrapped_methods = {
    3,
    x_close,
    x_read,
    x_write,
    x_truncate,
    x_sync,
    x_file_size,
    x_lock,
    x_unlock,
    x_check_reserved_lock,
    x_file_control,
    x_sector_size,
    x_device_characteristics,
    x_shm_map,
    x_shm_lock,
    x_shm_barrier,
    x_shm_unmap,
    x_fetch,
    x_unfetch,
};

int x_open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
    auto* wrapped = reinterpret_cast<WrappedFile*>(file);
    wrapped->real = reinterpret_cast<sqlite3_file*>(wrapped + 1);
    wrapped->base.pMethods = nullptr;
    if (faults.read_only.load() && (flags & SQLITE_OPEN_MAIN_DB) != 0)
        flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
    const int code = system_vfs->xOpen(system_vfs, name, wrapped->real, flags, out_flags);
    // A file the system could not open has no methods: SQLite then calls no xClose on it.
    if (code == SQLITE_OK && wrapped->real->pMethods != nullptr)
        wrapped->base.pMethods = &wrapped_methods;
    return code;
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
        sqlite3_vfs_register(&wrapper_vfs, 0);
    });
    return wrapper_vfs.zName;
}

VfsFaults& failing_vfs_faults() {
    return faults;
}

}  // namespace vrk::test
