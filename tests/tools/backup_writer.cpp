// Writes one backup file over and over, as fast as it can, until it is killed; with "once" after the path,
// one time only. Prints "ready" once the first write is complete.
#include <QCoreApplication>
#include <cstdio>

#include "profile/backup_file.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2 && argc != 3)
        return 2;
    ProfileState profile;
    for (int r = 0; r < 1024; ++r) {
        for (int c = 1; c < 130; ++c)
            profile.ProfileBlocks[std::size_t(r)][std::size_t(c)] = std::int16_t((r + c) % 256);
    }
    for (unsigned round = 0;; ++round) {
        profile.ProfileHeader[0] = std::uint8_t(round);
        if (!WriteBackupFile(QString::fromLocal8Bit(argv[1]), profile, nullptr))
            return 1;
        if (round == 0) {
            std::puts("ready");
            std::fflush(stdout);
            if (argc == 3)
                return 0;
        }
    }
}
