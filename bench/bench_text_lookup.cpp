// How fast texts come out of the text database: every task-list row and status during an update asks for one.
#include <QCoreApplication>
#include <chrono>
#include <cstdio>

#include "support/text_database.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString path = QCoreApplication::applicationDirPath() + "/../FirmwareUpdate.lng";
    TextDatabase texts;
    if (texts.Open(path, 1) != TextDatabase::OpenResult::Ok) {
        std::fprintf(stderr, "bench_text_lookup: cannot open %s\n", qPrintable(path));
        return 1;
    }
    const Txt ids[] = {Txt::Done, Txt::Error, Txt::WritingFirmware, Txt::RestoringProfile,
                       Txt::FirmwareVersion};
    constexpr int kLookups = 200000;
    qsizetype chars = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kLookups; ++i)
        chars += texts.GetText(ids[i % 5]).size();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("text lookups: %d in %.3f s, %.2f us each (%lld chars)\n", kLookups, seconds,
                seconds * 1e6 / kLookups, static_cast<long long>(chars));
    return 0;
}
