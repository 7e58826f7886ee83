#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <vector>

#include "tools/dcsim/dc_model.h"

// Serves a DcModel in real time on a file descriptor (the pseudo-terminal's master side). A transmission is
// what arrives together: bytes are collected until the frame the device expects is complete, and a pause of
// more than kGapMs ends a frame the device cannot measure (or a broken one).
class DcServer : public QObject {
public:
    static constexpr int kGapMs = 50;

    DcServer(DcConfig config, int fd, bool verbose, QObject* parent = nullptr);

private:
    void ReadAvailable();
    void TakeCompleteFrames();
    void Process(std::vector<std::uint8_t> frame);
    void WriteAt(double due, std::vector<std::uint8_t> bytes);
    void Write(const std::vector<std::uint8_t>& bytes);
    void Chatter();
    double Now() const { return static_cast<double>(elapsed_.nsecsElapsed()) * 1e-9; }

    DcModel model_;
    int fd_;
    bool verbose_;
    QElapsedTimer elapsed_;
    QSocketNotifier notifier_;
    QTimer gap_;
    QTimer chatter_;
    std::vector<std::uint8_t> pending_;
    double lineFree_ = 0.0;  // when the last scheduled reply byte has left
    std::uint32_t chatterState_;
};
