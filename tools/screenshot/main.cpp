// kav-screenshot: renders the wizard into PNGs for the documentation: page 1, page 2 in German, an upload in
// progress, a finished update and the choice of a firmware file. Runs without a display
// (QT_QPA_PLATFORM=offscreen), on the in-process simulated DC. Under QT_SCALE_FACTOR the pictures are named
// for the scale: scale-150-page1.png.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "tools/screenshot/simulated_wizard.h"
#include "wizard/front/wizard_window.h"

namespace {

// A window that lets the caller look at it while a transfer runs.
class Camera final : public WizardWindow {
public:
    void SetNewestTaskProgress(const TransferProgress& progress) override {
        WizardWindow::SetNewestTaskProgress(progress);
        if (OnProgress)
            OnProgress(progress);
    }
    std::function<void(const TransferProgress& progress)> OnProgress;
};

bool Save(QWidget& window, const QString& path) {
    QCoreApplication::processEvents();
    const bool saved = window.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// One window on its own simulated DC, started and shown.
struct Shot {
    Shot(int languageCode, const QString& firmware)
        : wizard(window, firmware, QCoreApplication::applicationDirPath(), appDir.path(), languageCode,
                 ThrottledDc()) {
        window.OnNext = [this] { wizard.machine.NextClick(); };
        window.OnBack = [this] { wizard.machine.BackClick(); };
        loaded = wizard.machine.Load();
        window.show();
    }
    // At 38400 baud, so the rate shown is the real one.
    static DcConfig ThrottledDc() {
        DcConfig dc;
        dc.throttle = true;
        return dc;
    }
    QTemporaryDir appDir;
    Camera window;
    SimulatedWizard wizard;
    bool loaded = false;
};

// The rows name the firmware file: a copy in a folder of the same name everywhere keeps the build's folder
// out of the pictures.
struct DemoFirmwareCopy {
    DemoFirmwareCopy() {
        const QString demo =
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("KAV.1F.demo.FWR"));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(path);
        copied = QFile::copy(demo, path);
    }
    ~DemoFirmwareCopy() {
        QFile::remove(path);
        QDir().rmdir(QFileInfo(path).absolutePath());
    }
    const QString path = QDir::temp().filePath(QStringLiteral("kav-update/KAV.1F.demo.FWR"));
    bool copied = false;
};

// The box an installed program shows when its folder holds no firmware file; Cancel ends start-up.
bool SaveFirmwareChoice(const QString& path) {
    WizardWindow window;
    SimulatedWizard wizard(window, QString(), QCoreApplication::applicationDirPath(),
                           QStringLiteral("/usr/share/kav-update"), 5000);
    bool saved = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll.stop();
            saved = Save(*box, path);
            box->button(QMessageBox::Cancel)->click();
        }
    });
    poll.start(10);
    return !wizard.machine.Load() && saved;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fputs("usage: kav-screenshot OUT-DIR\n", stderr);
        return 2;
    }
    const QDir dir(args[1]);
    const qreal scale = app.devicePixelRatio();
    const QString prefix =
        qFuzzyCompare(scale, 1.0) ? QString() : QStringLiteral("scale-%1-").arg(qRound(scale * 100));
    const auto out = [&](const char* name) { return dir.filePath(prefix + QLatin1String(name)); };
    const DemoFirmwareCopy demo;
    bool ok = demo.copied;
    {
        Shot page1(5000, demo.path);
        ok = page1.loaded && Save(page1.window, out("page1.png")) && ok;
    }
    {
        Shot page2(6000, demo.path);
        page2.wizard.machine.NextClick();
        ok = page2.loaded && Save(page2.window, out("page2-de.png")) && ok;
    }
    {
        Shot update(5000, demo.path);
        bool taken = false;
        update.window.OnProgress = [&](const TransferProgress& progress) {
            const QString writing = update.wizard.run.texts.GetText(Txt::WritingFirmware);
            if (!taken && progress.Percent() == 45 &&
                update.wizard.run.tasks.Rows().back().event == writing) {
                taken = true;
                ok = Save(update.window, out("upload.png")) && ok;
            }
        };
        update.wizard.machine.NextClick();
        update.wizard.machine.NextClick();
        ok = update.loaded && taken && update.wizard.machine.UpdateHasRun() &&
             Save(update.window, out("finished.png")) && ok;
    }
    ok = SaveFirmwareChoice(out("firmware-choice.png")) && ok;
    return ok ? 0 : 1;
}
