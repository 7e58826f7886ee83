#include "app/identify_command.h"

#include <cstdio>
#include <ostream>

#include "firmware/firmware_loader.h"
#include "support/language.h"
#include "update/dc_identity.h"

namespace {

constexpr int kNoDc = 1;  // no cable, none chosen, or the DC did not answer

// Each fact on a line of its own, for the person or script that asked and for the run log.
class Teller {
public:
    Teller(std::ostream& out, RunLog& log) : out_(out), log_(log) {}
    void Say(const QString& line) {
        out_ << line.toStdString() << '\n';
        out_.flush();
        log_.Write(line);
    }

private:
    std::ostream& out_;
    RunLog& log_;
};

// False: the file is there and was rejected (the loader has said why).
bool LoadFirmwareIfThere(WizardAssembly& w, const QString& path, Teller& tell) {
    const QString shown = QDir::toNativeSeparators(path);
    if (!QFileInfo(path).isFile()) {
        tell.Say(
            QStringLiteral("firmware file: none (%1 is not there): the model is not checked").arg(shown));
        return true;
    }
    if (!w.run.device.LoadFirmware(path))
        return false;
    const FirmwareImage& fw = w.session.firmware;
    tell.Say(QStringLiteral("firmware file: %1 (%2, version %3, sub-version %4%5)")
                 .arg(shown, fw.FwrModelName, fw.FwrVersion)
                 .arg(fw.FwrSubVersion)
                 .arg(fw.Demo ? QStringLiteral(", the demo firmware") : QString()));
    return true;
}

QString SubVersionText(const DcIdentity& dc, const FirmwareImage& fw) {
    if (dc.subVersion)
        return QString::number(*dc.subVersion);
    if (!fw.Loaded())
        return QStringLiteral("not read (no firmware file to compare it with)");
    return fw.SubVersionInUse() ? QStringLiteral("no answer")
                                : QStringLiteral("not read (the firmware file does not ask for it)");
}

void TellBackups(const DcIdentity& dc, Teller& tell) {
    if (!dc.serialNumber)
        return tell.Say(QStringLiteral("backup: not looked for (the serial number is not known)"));
    if (!dc.damage.isEmpty())
        tell.Say(QStringLiteral("backup: damaged: ") + dc.damage);
    for (const QString& file : dc.waitingBackups)
        tell.Say(QStringLiteral("backup: %1 waits to be restored into this DC")
                     .arg(QDir::toNativeSeparators(file)));
    if (dc.waitingBackups.isEmpty() && dc.damage.isEmpty())
        tell.Say(QStringLiteral("backup: none waits for this DC"));
}

void TellIdentity(const DcIdentity& dc, const FirmwareImage& fw, Teller& tell) {
    tell.Say(QStringLiteral("identification: ") + dc.idText.trimmed());
    if (!dc.version)
        return tell.Say(QStringLiteral("model: not %1, the firmware file's model").arg(fw.FwrModelName));
    tell.Say(QStringLiteral("model: ") + (fw.Loaded()
                                              ? fw.FwrModelName
                                              : dc.idText.section(u' ', 0, 0, QString::SectionSkipEmpty) +
                                                    QStringLiteral(" (not checked: no firmware file)")));
    tell.Say(QStringLiteral("firmware version: ") + *dc.version);
    tell.Say(QStringLiteral("sub-version: ") + SubVersionText(dc, fw));
    tell.Say(QStringLiteral("serial number: ") +
             (dc.serialNumber ? QString::number(*dc.serialNumber).rightJustified(6, u'0')
                              : QStringLiteral("not read (block 0 did not come)")));
    TellBackups(dc, tell);
}

}  // namespace

bool OpenCommandTexts(TextDatabase& texts, const StartupOptions& o) {
    const int column = o.LanguageCode ? LanguageColumnForCode(*o.LanguageCode)
                                      : ParseStartupSettings(o.StartupResource).languageColumn;
    return texts.Open(FindTextDatabase(o.AppDir, o.ExeDir, o.DataDir), column) ==
               TextDatabase::OpenResult::Ok ||
           !texts.GetText(Txt::Error).isEmpty();
}

int RunIdentify(WizardAssembly& w, const CommandLine& cl, std::ostream& out) {
    Teller tell(out, w.log);
    const StartupOptions o = StartupOptionsFrom(cl, w.log);
    w.session.AppDir = o.AppDir;
    w.session.BackupDir = o.BackupDir;
    if (!OpenCommandTexts(w.texts, o)) {
        std::fprintf(stderr, "kav-update: %s\n", kTextDatabaseFallback);
        return ExitStartupEnded;
    }
    if (!LoadFirmwareIfThere(w, FirmwareFileFor(o), tell))
        return ExitStartupEnded;
    if (!w.cable.TestInterface())
        return kNoDc;
    tell.Say(QStringLiteral("port: %1, %2").arg(w.session.cable.InterfacePortName, w.portFoundBy));
    const std::optional<DcIdentity> dc = IdentifyConnectedDc(w.run.context);
    if (!dc) {
        tell.Say(QStringLiteral("identification: none: the DC does not answer"));
        return kNoDc;
    }
    TellIdentity(*dc, w.session.firmware, tell);
    return 0;
}
