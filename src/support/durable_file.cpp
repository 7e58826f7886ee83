#include "support/durable_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QFile>

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
