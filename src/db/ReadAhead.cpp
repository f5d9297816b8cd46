#include "db/ReadAhead.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kChunk = 64 * 1024;

sqlite3_vfs *g_base = nullptr; // SQLite's own, which does the reading

// A file opened through this layer: the base layer's file follows it in the same block.
struct File
{
    sqlite3_file file;      // first: SQLite sees a File as a sqlite3_file
    sqlite3_file *base;     // the base layer's file
    bool readsAhead;        // a main database file not in write-ahead-log mode
    char *kept;             // kChunk bytes, allocated at the first read ahead
    sqlite3_int64 keptAt;   // the file offset of kept[0]
    int keptBytes;          // 0: nothing kept
    sqlite3_int64 nextRead; // where a read in file order would start
};

File *of(sqlite3_file *file)
{
    return reinterpret_cast<File *>(file);
}
sqlite3_file *base(sqlite3_file *file)
{
    return of(file)->base;
}
const sqlite3_io_methods &baseMethods(sqlite3_file *file)
{
    return *base(file)->pMethods;
}
void letGo(sqlite3_file *file)
{
    of(file)->keptBytes = 0;
}

int close(sqlite3_file *file)
{
    std::free(of(file)->kept);
    of(file)->kept = nullptr;
    return baseMethods(file).xClose(base(file));
}

int read(sqlite3_file *file, void *out, int amount, sqlite3_int64 offset)
{
    File &f = *of(file);
    const bool inOrder = offset == f.nextRead;
    f.nextRead = offset + amount;
    if (f.keptBytes > 0 && offset >= f.keptAt && offset + amount <= f.keptAt + f.keptBytes) {
        std::memcpy(out, f.kept + (offset - f.keptAt), static_cast<std::size_t>(amount));
        return SQLITE_OK;
    }
    letGo(file);
    sqlite3_int64 size = 0;
    if (!f.readsAhead || !inOrder || amount > kChunk / 2 ||
        baseMethods(file).xFileSize(base(file), &size) != SQLITE_OK || offset + amount > size)
        return baseMethods(file).xRead(base(file), out, amount, offset);
    if (!f.kept && !(f.kept = static_cast<char *>(std::malloc(kChunk))))
        return baseMethods(file).xRead(base(file), out, amount, offset);
    const int bytes = static_cast<int>(size - offset < kChunk ? size - offset : kChunk);
    if (baseMethods(file).xRead(base(file), f.kept, bytes, offset) != SQLITE_OK)
        return baseMethods(file).xRead(base(file), out, amount, offset);
    f.keptAt = offset;
    f.keptBytes = bytes;
    std::memcpy(out, f.kept, static_cast<std::size_t>(amount));
    return SQLITE_OK;
}

// Everything else is the base layer's; whatever may change the file, or what the lock covers, lets go
// of the bytes kept.
int write(sqlite3_file *file, const void *data, int amount, sqlite3_int64 offset)
{
    letGo(file);
    return baseMethods(file).xWrite(base(file), data, amount, offset);
}
int truncate(sqlite3_file *file, sqlite3_int64 size)
{
    letGo(file);
    return baseMethods(file).xTruncate(base(file), size);
}
int sync(sqlite3_file *file, int flags)
{
    return baseMethods(file).xSync(base(file), flags);
}
int fileSize(sqlite3_file *file, sqlite3_int64 *size)
{
    return baseMethods(file).xFileSize(base(file), size);
}
int lock(sqlite3_file *file, int level)
{
    letGo(file);
    return baseMethods(file).xLock(base(file), level);
}
int unlock(sqlite3_file *file, int level)
{
    letGo(file);
    return baseMethods(file).xUnlock(base(file), level);
}
int checkReservedLock(sqlite3_file *file, int *reserved)
{
    return baseMethods(file).xCheckReservedLock(base(file), reserved);
}
int fileControl(sqlite3_file *file, int operation, void *argument)
{
    letGo(file);
    return baseMethods(file).xFileControl(base(file), operation, argument);
}
int sectorSize(sqlite3_file *file)
{
    return baseMethods(file).xSectorSize(base(file));
}
int deviceCharacteristics(sqlite3_file *file)
{
    return baseMethods(file).xDeviceCharacteristics(base(file));
}
// The newer methods exist only where the base layer's file has them (SQLite's own Unix files do).
int shmMap(sqlite3_file *file, int region, int size, int extend, void volatile **memory)
{
    // Write-ahead-log mode: other connections write to the database file while this one reads it.
    of(file)->readsAhead = false;
    letGo(file);
    if (baseMethods(file).iVersion < 2)
        return SQLITE_IOERR_SHMMAP;
    return baseMethods(file).xShmMap(base(file), region, size, extend, memory);
}
int shmLock(sqlite3_file *file, int offset, int count, int flags)
{
    if (baseMethods(file).iVersion < 2)
        return SQLITE_IOERR_SHMLOCK;
    return baseMethods(file).xShmLock(base(file), offset, count, flags);
}
void shmBarrier(sqlite3_file *file)
{
    if (baseMethods(file).iVersion >= 2)
        baseMethods(file).xShmBarrier(base(file));
}
int shmUnmap(sqlite3_file *file, int deleteFlag)
{
    if (baseMethods(file).iVersion < 2)
        return SQLITE_OK;
    return baseMethods(file).xShmUnmap(base(file), deleteFlag);
}
int fetch(sqlite3_file *file, sqlite3_int64 offset, int amount, void **page)
{
    if (baseMethods(file).iVersion < 3) {
        *page = nullptr; // no memory map: SQLite reads the page instead
        return SQLITE_OK;
    }
    return baseMethods(file).xFetch(base(file), offset, amount, page);
}
int unfetch(sqlite3_file *file, sqlite3_int64 offset, void *page)
{
    if (baseMethods(file).iVersion < 3)
        return SQLITE_OK;
    return baseMethods(file).xUnfetch(base(file), offset, page);
}

constexpr sqlite3_io_methods kMethods = {3,
                                         close,
                                         read,
                                         write,
                                         truncate,
                                         sync,
                                         fileSize,
                                         lock,
                                         unlock,
                                         checkReservedLock,
                                         fileControl,
                                         sectorSize,
                                         deviceCharacteristics,
                                         shmMap,
                                         shmLock,
                                         shmBarrier,
                                         shmUnmap,
                                         fetch,
                                         unfetch};

int open(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags)
{
    File &f = *of(file);
    f.base = reinterpret_cast<sqlite3_file *>(&f + 1);
    f.readsAhead = (flags & SQLITE_OPEN_MAIN_DB) != 0;
    f.kept = nullptr;
    f.keptAt = 0;
    f.keptBytes = 0;
    f.nextRead = -1;
    const int rc = g_base->xOpen(g_base, name, f.base, flags, outFlags);
    // SQLite calls xClose only on a file whose methods are set, and the base layer's file then has them.
    f.file.pMethods = f.base->pMethods ? &kMethods : nullptr;
    return rc;
}

sqlite3_vfs g_vfs;

} // namespace

const char *ReadAhead::VfsName()
{
    static const char *const name = []() -> const char * {
        g_base = sqlite3_vfs_find(nullptr);
        if (!g_base)
            return nullptr;
        g_vfs = *g_base;
        g_vfs.zName = "quillary-read-ahead";
        g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_base->szOsFile;
        g_vfs.xOpen = open;
        g_vfs.pNext = nullptr;
        return sqlite3_vfs_register(&g_vfs, 0) == SQLITE_OK ? g_vfs.zName : nullptr;
    }();
    return name;
}
