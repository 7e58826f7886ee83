#pragma once

// The simulated DC as its own process (kav-dc-sim on a pseudo-terminal), for tests that run the real program
// against it, and what its log and memory dump tell afterwards.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <utility>
#include <vector>

#include "fakes/update_fixture.h"

// kav-dc-sim --verbose on a pseudo-terminal; the frames it heard are read from its log.
struct SimulatedDc {
    explicit SimulatedDc(const QString& dump, const QStringList& args) {
        process.setStandardErrorFile(log);  // a file: a full pipe would hold the DC up
        process.start(KAV_DC_SIM_PATH,
                      QStringList{"--verbose", "--restart-seconds", "1", "--dump", dump} + args);
        if (process.waitForReadyRead(10000))
            port = {"--port", QString::fromLocal8Bit(process.readLine()).trimmed()};
    }
    // The frames heard so far: their bytes as logged (the first 24) and their length.
    std::vector<std::pair<Bytes, int>> Heard() const {
        QFile file(log);
        const QString text = file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
        std::vector<std::pair<Bytes, int>> frames;
        static const QRegularExpression line(R"(<-((?: [0-9A-F]{2})+)(?: \.\.\. \((\d+) bytes\))?)");
        for (auto m = line.globalMatch(text); m.hasNext();) {
            const auto frame = m.next();
            Bytes bytes;
            for (const QString& hex : frame.captured(1).split(' ', Qt::SkipEmptyParts))
                bytes.push_back(std::uint8_t(hex.toUInt(nullptr, 16)));
            const int length = frame.captured(2).isEmpty() ? int(bytes.size()) : frame.captured(2).toInt();
            frames.emplace_back(std::move(bytes), length);
        }
        return frames;
    }
    bool End() {
        process.closeWriteChannel();
        return process.waitForFinished(10000);
    }
    QTemporaryFile logFile;
    QString log = (logFile.open(), logFile.fileName());
    QProcess process;
    QStringList port;
};

// How often the finish went out: the clock record announced, sent, then leaving Deep Sleep.
inline int Finishes(const std::vector<std::pair<Bytes, int>>& frames) {
    int n = 0;
    for (std::size_t i = 2; i < frames.size(); ++i)
        n += frames[i - 2].first == Bytes{0x97, 0x00} && frames[i - 1].second == 10 &&
             frames[i].first == Bytes{0xA8, 0x99, 0x00};
    return n;
}

inline bool ProfileIntact(const QByteArray& dc, const std::vector<std::uint8_t>& original, int first,
                          int last) {
    const auto units = [&](int from, int to) {
        return QByteArray(reinterpret_cast<const char*>(&original[std::size_t(from) * 16]),
                          (to - from + 1) * 16);
    };
    return dc.mid(4 * 16, 16) == units(4, 4) &&
           dc.mid(first * 16, (last - first + 1) * 16) == units(first, last);
}
