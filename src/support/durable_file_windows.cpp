#include "support/durable_file.h"

#include <io.h>
#include <windows.h>

#include <QDir>

namespace {

bool Failed(QString* why) {
    if (why)
        *why = qt_error_string(static_cast<int>(GetLastError()));
    return false;
}

}  // namespace

bool SyncFileData(int fd, QString* why) {
    if (_commit(fd) == 0)
        return true;
    if (why)
        *why = qt_error_string(errno);
    return false;
}

// NTFS journals its folders' entries itself, and a folder cannot be flushed from a program.
bool SyncFolder(const QString& folder, QString* why) {
    Q_UNUSED(folder);
    Q_UNUSED(why);
    return true;
}

bool MoveDurably(const QString& from, const QString& to, QString* why) {
    const QString source = QDir::toNativeSeparators(from), target = QDir::toNativeSeparators(to);
    return MoveFileExW(reinterpret_cast<LPCWSTR>(source.utf16()), reinterpret_cast<LPCWSTR>(target.utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
           Failed(why);
}
