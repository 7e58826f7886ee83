#include "support/durable_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QFile>
#include <QFileInfo>

namespace {

bool Failed(QString* why) {
    if (why)
        *why = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

}  // namespace

bool SyncFileData(int fd, QString* why) {
    return ::fsync(fd) == 0 || Failed(why);
}

bool SyncFolder(const QString& folder, QString* why) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Failed(why);
    const bool synced = ::fsync(fd) == 0 || Failed(why);
    ::close(fd);
    return synced;
}

bool MoveDurably(const QString& from, const QString& to, QString* why) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return Failed(why);
    const QString target = QFileInfo(to).absolutePath(), source = QFileInfo(from).absolutePath();
    return SyncFolder(target, why) && (source == target || SyncFolder(source, why));
}
