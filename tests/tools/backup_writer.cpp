// Writes one backup file, so that a test can watch the system calls of a single write.
#include <QCoreApplication>

#include "profile/backup_file.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    ProfileState profile;
    for (int r = 0; r < 1024; ++r) {
        for (int c = 1; c < 130; ++c)
            profile.ProfileBlocks[std::size_t(r)][std::size_t(c)] = std::int16_t((r + c) % 256);
    }
    return WriteBackupFile(QString::fromLocal8Bit(argv[1]), profile, nullptr) ? 0 : 1;
}
