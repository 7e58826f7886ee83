#include "link/serial_port.h"

#include <windows.h>
#include <QLockFile>
#include <QTimer>
#include <QWinEventNotifier>

#include "link/port_system.h"
#include "link/qt_event_pump.h"
#include "support/win32.h"

// The COM port through Win32: opened exclusively (a second program is refused by the system), with overlapped
// I/O so that a read can always wait while the event loop runs. The cable's lock file keeps a second
// kav-update off it as on Linux, also where a driver (or Wine) lets a port be opened twice.

namespace {

constexpr DWORD kBaudRate = 38400;
constexpr DWORD kReadRoom = 4096;

QString DeviceName(const QString& nameOrPath) {
    // COM10 and above are reachable only by their device name; the short form works for every number.
    return nameOrPath.startsWith(QLatin1String("\\\\.\\")) ? nameOrPath
                                                           : QStringLiteral("\\\\.\\") + nameOrPath;
}

PortOpenFailure FailureOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return PortOpenFailure::NotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return PortOpenFailure::NoPermission;
        default:
            return PortOpenFailure::Other;
    }
}

// A read returns as soon as bytes have come, with what has come. Windows does so with the documented setting,
// and waits for the first byte for as long as the constant (a read that ends empty is made again). An
// interval time-out would run on the system's timer tick, up to 15.6 ms more on every reply. Wine's read
// waits for a full buffer with that setting, so there the read ends at the first millisecond's pause after
// a byte. A write the line cannot take in time gives up.
COMMTIMEOUTS LineTimeouts() {
    COMMTIMEOUTS t{};
    if (RunningUnderWine()) {
        t.ReadIntervalTimeout = 1;
    } else {
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = 60000;
    }
    t.WriteTotalTimeoutMultiplier = 1;
    t.WriteTotalTimeoutConstant = 2000;
    return t;
}

bool ApplyLineSettings(HANDLE handle) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return false;
    dcb.BaudRate = kBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    return SetCommState(handle, &dcb) != 0;
}

}  // namespace

struct SerialPort::Line {
    std::unique_ptr<QLockFile> lock;
    HANDLE handle = INVALID_HANDLE_VALUE;
    QString name;
    OVERLAPPED read{};
    std::uint8_t received[kReadRoom]{};
    bool readPending = false;
    // Both may be in the middle of a call of theirs when the port closes: they go later.
    QWinEventNotifier* readDone = nullptr;
    QObject* context = new QObject;  // of the deferred close

    ~Line() {
        if (handle != INVALID_HANDLE_VALUE) {
            // The waiting read must be over before its buffer and event go.
            CancelIoEx(handle, &read);
            DWORD ignored = 0;
            if (readPending)
                GetOverlappedResult(handle, &read, &ignored, TRUE);
            CloseHandle(handle);
        }
        if (readDone != nullptr) {
            readDone->setEnabled(false);
            readDone->deleteLater();
        }
        context->deleteLater();
        if (read.hEvent != nullptr)
            CloseHandle(read.hEvent);
    }
};

SerialPort::SerialPort(QtEventPump* pump, SerialDriver* driver)
    : pump_(pump), driver_(driver != nullptr ? *driver : systemDriver_) {}

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const QString& nameOrPath, PortOpenError* error) {
    Close();
    auto line = std::make_unique<Line>();
    line->name = nameOrPath;
    line->lock = std::make_unique<QLockFile>(CableLockPath(nameOrPath));
    line->lock->setStaleLockTime(0);  // stale only when its program is gone, however long the update takes
    if (!line->lock->tryLock(0)) {
        if (line->lock->error() == QLockFile::LockFailedError) {
            if (error != nullptr)
                *error = {PortOpenFailure::NoPermission,
                          QStringLiteral("the cable is locked by another kav-update")};
            return false;
        }
        line->lock.reset();  // a lock that cannot be written must not keep the cable from us
    }
    line->handle =
        CreateFileW(reinterpret_cast<LPCWSTR>(DeviceName(nameOrPath).utf16()), GENERIC_READ | GENERIC_WRITE,
                    0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (line->handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (error != nullptr)
            *error = {FailureOf(code), Win32ErrorText(code)};
        return false;
    }
    // A port without modem lines or settings (Wine's view of a pseudo-terminal) may refuse some of this; the
    // DC does not need them to answer, and a reply that does not come is the command's time-out.
    if (!ApplyLineSettings(line->handle))
        qWarning("Serial port %s: the line settings were refused: %s", qPrintable(nameOrPath),
                 qPrintable(Win32ErrorText(GetLastError())));
    SetupComm(line->handle, kReadRoom, kReadRoom);
    COMMTIMEOUTS timeouts = LineTimeouts();
    SetCommTimeouts(line->handle, &timeouts);
    PurgeComm(line->handle, PURGE_RXCLEAR | PURGE_TXCLEAR);

    line->read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (line->read.hEvent == nullptr) {
        const DWORD code = GetLastError();
        if (error != nullptr)
            *error = {PortOpenFailure::Other, Win32ErrorText(code)};
        return false;
    }
    line->readDone = new QWinEventNotifier(line->read.hEvent);
    QObject::connect(line->readDone, &QWinEventNotifier::activated, line->context,
                     [this] { ReadCompleted(); });
    line_ = std::move(line);
    vanished_ = false;
    ++opened_;
    latency_ = RequestLowLatency(driver_, -1, nameOrPath);
    if (!StartRead())
        return IsOpen();
    if (OnOpened)
        OnOpened(latency_);
    return true;
}

bool SerialPort::IsOpen() const {
    return line_ != nullptr && !vanished_;
}

void SerialPort::Close() {
    line_.reset();
    latency_.restoreFlags.reset();
}

void SerialPort::Discard() {
    if (!IsOpen())
        return;
    PurgeComm(line_->handle, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR);
    // The waiting read may hold bytes of a late reply that PURGE_RXCLEAR does not reach; delivered later,
    // they would pass for the next command's answer. It ends (PURGE_RXABORT, or CancelIoEx where a driver
    // ignores that), what it held goes with the rest, and a new read waits.
    if (line_->readPending) {
        CancelIoEx(line_->handle, &line_->read);
        DWORD dropped = 0;
        GetOverlappedResult(line_->handle, &line_->read, &dropped, TRUE);
        line_->readPending = false;
        PurgeComm(line_->handle, PURGE_RXCLEAR);  // what came while it ended
    }
    StartRead();
}

void SerialPort::Transmit(std::span<const std::uint8_t> bytes) {
    if (!IsOpen() || bytes.empty())
        return;
    OVERLAPPED write{};
    write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD sent = 0;
    // Handed to the driver before returning: the caller may go on without running the event loop.
    BOOL ok = WriteFile(line_->handle, bytes.data(), static_cast<DWORD>(bytes.size()), &sent, &write);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        ok = GetOverlappedResult(line_->handle, &write, &sent, TRUE);
    const DWORD code = ok ? 0 : GetLastError();
    if (write.hEvent != nullptr)
        CloseHandle(write.hEvent);
    if (ok && sent == bytes.size())
        return;
    qWarning("Serial port %s: %lu of %llu bytes could not be sent: %s", qPrintable(line_->name),
             static_cast<unsigned long>(bytes.size() - sent), static_cast<unsigned long long>(bytes.size()),
             ok ? "the line's time-out" : qPrintable(Win32ErrorText(code)));
    if (code == ERROR_DEVICE_REMOVED || code == ERROR_BAD_COMMAND || code == ERROR_GEN_FAILURE ||
        code == ERROR_INVALID_HANDLE)
        Vanish();
}

// Issues reads until one has to wait; what completes at once is delivered on the way. False when the port
// failed (it is then closing).
bool SerialPort::StartRead() {
    if (IsOpen() && line_->readPending)
        return true;  // one read at a time on the one OVERLAPPED
    while (IsOpen()) {
        DWORD got = 0;
        if (ReadFile(line_->handle, line_->received, kReadRoom, &got, &line_->read)) {
            Deliver(std::span(line_->received, got));
            continue;
        }
        const DWORD code = GetLastError();
        if (code == ERROR_IO_PENDING) {
            line_->readPending = true;
            return true;
        }
        qInfo("Serial port %s: reading failed: %s", qPrintable(line_->name),
              qPrintable(Win32ErrorText(code)));
        Vanish();
        return false;
    }
    return false;
}

void SerialPort::ReadCompleted() {
    if (!IsOpen() || !line_->readPending)
        return;
    DWORD got = 0;
    if (!GetOverlappedResult(line_->handle, &line_->read, &got, FALSE)) {
        const DWORD code = GetLastError();
        if (code == ERROR_IO_INCOMPLETE)
            return;
        line_->readPending = false;
        if (code == ERROR_OPERATION_ABORTED) {
            StartRead();
            return;
        }
        qInfo("Serial port %s: reading failed: %s", qPrintable(line_->name),
              qPrintable(Win32ErrorText(code)));
        Vanish();
        return;
    }
    line_->readPending = false;
    const quint64 which = opened_;
    Deliver(std::span(line_->received, got));
    // OnData may have closed or reopened the port.
    if (opened_ == which)
        StartRead();
}

void SerialPort::Deliver(std::span<const std::uint8_t> data) {
    if (!data.empty() && OnData)
        OnData(data);
    if (pump_ != nullptr)
        pump_->Wake();
}

void SerialPort::Vanish() {
    if (vanished_ || line_ == nullptr)
        return;
    vanished_ = true;
    qInfo("Serial port %s is gone; closing it", qPrintable(line_->name));
    // Not from inside the read's own notification, which is still running.
    QTimer::singleShot(0, line_->context, [this, which = opened_] {
        if (opened_ == which)
            Close();
    });
    if (pump_ != nullptr)
        pump_->Wake();
}
