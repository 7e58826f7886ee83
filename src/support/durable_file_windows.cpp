#include "support/durable_file.h"

#include <io.h>

#include <QDir>

#include "support/win32.h"

// MOVEFILE_WRITE_THROUGH waits only for a move that copies (across volumes); a rename within one volume
// returns with the change still in the cache. NTFS records a rename as one metadata change in its journal,
// whole or not at all; flushing a handle of the renamed file (or of its folder) writes the journal out up to
// that change, and so puts the new name on the disk.

namespace {

bool Failed(QString* why) {
    if (why)
        *why = LastWin32ErrorText();
    return false;
}

// Opened for writing only because FlushFileBuffers asks for a handle with write access; nothing is written.
bool FlushPath(const QString& path, DWORD flags, QString* why) {
    const QString native = QDir::toNativeSeparators(path);
    HANDLE handle = CreateFileW(reinterpret_cast<LPCWSTR>(native.utf16()), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return Failed(why);
    const bool flushed = FlushFileBuffers(handle) != 0;
    const DWORD code = GetLastError();
    CloseHandle(handle);
    SetLastError(code);
    return flushed || Failed(why);
}

}  // namespace

bool SyncFileData(int fd, QString* why) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return Failed(why);
    }
    return FlushFileBuffers(handle) != 0 || Failed(why);
}

// The file renamed into the folder just before has no handle here: the folder's own carries the journal
// out. A file system that cannot flush a folder (FAT, some network shares) refuses it, and has no more to
// give.
bool SyncFolder(const QString& folder, QString* why) {
    QString ignored;
    if (FlushPath(folder, FILE_FLAG_BACKUP_SEMANTICS, &ignored))
        return true;
    const DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED || code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED ||
        code == ERROR_INVALID_PARAMETER)
        return true;
    SetLastError(code);
    return Failed(why);
}

bool MoveDurably(const QString& from, const QString& to, QString* why) {
    if (!FlushPath(from, FILE_ATTRIBUTE_NORMAL, why))
        return false;
    const QString source = QDir::toNativeSeparators(from), target = QDir::toNativeSeparators(to);
    if (!MoveFileExW(reinterpret_cast<LPCWSTR>(source.utf16()), reinterpret_cast<LPCWSTR>(target.utf16()),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Failed(why);
    return FlushPath(to, FILE_ATTRIBUTE_NORMAL, why);
}
