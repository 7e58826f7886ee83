#include "wizard/stage_machine.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <utility>

#include "firmware/firmware_loader.h"
#include "profile/recovery.h"
#include "support/app_folders.h"
#include "support/device_id.h"
#include "support/file_exists.h"
#include "support/language.h"
#include "wizard/instruction_pages.h"

StageMachine::StageMachine(Session& session, WizardView& view, TaskList& tasks, TextDatabase& texts,
                           DeviceOperations& device, PriorityControl& priority, StartupOptions options)
    : session_(session),
      view_(view),
      tasks_(tasks),
      texts_(texts),
      device_(device),
      priority_(priority),
      options_(std::move(options)) {}

bool StageMachine::Load() {
    currentStage_ = 1;
    view_.SetButtonVisible(WizardButton::Print, false);
    view_.SetButtonVisible(WizardButton::Again, false);
    view_.SetButtonVisible(WizardButton::Next, true);
    view_.SetButtonVisible(WizardButton::Back, true);
    view_.SetButtonVisible(WizardButton::Close, true);
    view_.SetButtonEnabled(WizardButton::Back, false);
    view_.SetButtonEnabled(WizardButton::Next, true);
    view_.SetButtonEnabled(WizardButton::Close, true);
    StartUp();
    return startupOk_;
}

void StageMachine::StartUp() {
    session_.AppDir = options_.AppDir;
    session_.BackupDir = options_.BackupDir;
    session_.HistoryFile = options_.HistoryFile;
    if (!options_.BackupDir.isEmpty())
        QDir().mkpath(options_.BackupDir);  // a failure shows when the backup cannot be written
    const StartupSettings settings = ParseStartupSettings(options_.StartupResource);
    firmwareFilePath_ = FirmwareFileFor(options_);
    programOnClose_ = settings.programOnClose;
    languageColumn_ =
        options_.LanguageCode ? LanguageColumnForCode(*options_.LanguageCode) : settings.languageColumn;

    if (!OpenTextDatabase()) {
        End(ExitStartupEnded);
        return;
    }
    tasks_.SetTimeLeftFormat(texts_.GetText(Txt::TimeLeft));
    view_.SetOnTop(true);
    view_.ShowTrayIcon(QString::fromLatin1(kDesignCaption));
    view_.SetWindowCaption(QStringLiteral("KAV 1F ") + texts_.GetText(Txt::FirmwareUpdate));

    if (!LoadFirmware()) {
        ResetStage();
        CloseSequence();
        return;
    }
    if (DemoRefused()) {
        CloseSequence();
        return;
    }
    if (!device_.TestInterface()) {
        // The user gave up: the program ends at once, without the Close sequence.
        view_.RemoveTrayIcon();
        texts_.Close();
        End(ExitStartupEnded);
        return;
    }
    ShowPage1();
    startupOk_ = true;
}

QString FirmwareFileFor(const StartupOptions& options) {
    if (!options.FirmwareFile.isEmpty())
        return options.FirmwareFile;
    const QString inAppDir =
        QDir(options.AppDir).filePath(ParseStartupSettings(options.StartupResource).firmwareFile);
    if (options.FindDemoFirmware && !QFileInfo(inAppDir).isFile()) {
        const QString demo = FindFileIn(QString::fromLatin1(kDemoFirmwareName),
                                        {options.AppDir, options.ExeDir, options.DataDir});
        if (!demo.isEmpty())
            return demo;
    }
    return inAppDir;
}

// The file given, or the one found; when there is none the user may choose one, as often as one is refused.
bool StageMachine::LoadFirmware() {
    if (!options_.FirmwareFile.isEmpty() || FileExists(firmwareFilePath_))
        return device_.LoadFirmware(firmwareFilePath_);
    const QString missing =
        texts_.GetText(Txt::FirmwareFileNotFound).arg(QFileInfo(firmwareFilePath_).fileName());
    const QString folder = QDir::toNativeSeparators(options_.AppDir);
    const FirmwareFileChoice choice{
        .title = QStringLiteral("KAV 1F ") + texts_.GetText(Txt::FirmwareUpdate),
        .text = missing + QStringLiteral("\r\n") + folder + QStringLiteral("\r\n\r\n") +
                texts_.GetText(Txt::FirmwareFileChooseHint),
        .choose = texts_.GetText(Txt::ChooseFirmwareFile),
        .dialogTitle = texts_.GetText(Txt::FirmwareFileDialogTitle),
        .filterName = texts_.GetText(Txt::FirmwareFilesFilter),
        .errorTitle = texts_.GetText(Txt::Error),
        .errorText =
            missing + u' ' + folder + QStringLiteral(". ") + texts_.GetText(Txt::FirmwareFileOption)};
    while (const std::optional<QString> chosen = view_.ChooseFirmwareFile(choice)) {
        firmwareFilePath_ = *chosen;
        if (device_.LoadFirmware(firmwareFilePath_) && !DemoRefused())
            return true;
        tasks_.Clear();  // the next file's rows come first
    }
    return false;
}

std::optional<QString> StageMachine::DroppableFirmwareFile(const QList<QUrl>& urls) const {
    if (urls.size() != 1 || !urls[0].isLocalFile() || ended_ || !startupOk_ || busy_ != Busy::None ||
        currentStage_ != 1)
        return std::nullopt;
    const QString path = urls[0].toLocalFile();
    return path.endsWith(QLatin1String(".fwr"), Qt::CaseInsensitive) ? std::optional(path) : std::nullopt;
}

bool StageMachine::FirmwareFileDropped(const QString& path) {
    if (!DroppableFirmwareFile({QUrl::fromLocalFile(path)}))  // the page may have changed since the drop
        return false;
    const FirmwareImage firmware = session_.firmware;
    const std::vector<TaskList::Row> rows = tasks_.Rows();
    const QString before = std::exchange(firmwareFilePath_, path);
    tasks_.Clear();  // the rows name the file that will be written
    if (device_.LoadFirmware(path) && !DemoRefused()) {
        firmwareSha256_.clear();
        return true;
    }
    session_.firmware = firmware;
    firmwareFilePath_ = before;
    tasks_.Clear();
    for (const TaskList::Row& row : rows)
        tasks_.AddRow(row.icon, row.event, row.status);
    return false;
}

bool StageMachine::DemoRefused() {
    if (!session_.firmware.Demo || options_.SimulatedDc)
        return false;
    // Its generated image would leave a diver's computer without working firmware.
    view_.ShowStartupError(
        texts_.GetText(Txt::DemoFirmwareRefused).arg(QDir::toNativeSeparators(firmwareFilePath_)),
        QString::fromLatin1(kBoxTitle));
    return true;
}

void StageMachine::ShowPage1() {
    LoadStepInstructions(1);
    view_.SetFrameCaption(texts_.GetText(Txt::Instructions).toUpper());
    view_.SetButtonCaption(WizardButton::Back, texts_.GetText(Txt::Back));
    view_.SetButtonCaption(WizardButton::Close, texts_.GetText(Txt::Close));
    view_.SetButtonCaption(WizardButton::Next, texts_.GetText(Txt::Next));
    view_.SetButtonCaption(WizardButton::Again, texts_.GetText(Txt::UpdateAnotherDc));
    view_.SetColumnHeaders(texts_.GetText(Txt::ColumnTime), texts_.GetText(Txt::ColumnEvent),
                           texts_.GetText(Txt::ColumnStatus));
}

bool StageMachine::OpenTextDatabase() {
    const QString path = FindTextDatabase(options_.AppDir, options_.ExeDir, options_.DataDir);
    if (texts_.Open(path, languageColumn_) == TextDatabase::OpenResult::Ok)
        return true;
    const QString error = texts_.GetText(Txt::Error);
    if (error.isEmpty()) {
        // Not even the error text can be had: say so in plain English rather than run with blank captions.
        view_.ShowMessageBox(QString::fromLatin1(kTextDatabaseFallback), QString::fromLatin1(kBoxTitle),
                             kBoxOkCritical);
        texts_.Close();
        return false;
    }
    view_.ShowMessageBox(error + QStringLiteral(" 0001"), error, kBoxOkCritical);
    return true;
}

void StageMachine::SetBusy(Busy busy) {
    busy_ = busy;
    if (busy != Busy::None) {
        view_.SetButtonEnabled(WizardButton::Next, false);
        view_.SetButtonEnabled(WizardButton::Back, false);
    }
}

bool StageMachine::ConnectToDc() {
    const std::optional<QString> id = device_.IdentifyDc();
    if (!id || closeRequested_)
        return false;
    if (!FirmwareVersionOf(*id, session_.firmware.FwrModelId)) {
        view_.ShowMessageBox(texts_.GetText(Txt::UpdateOnlyFor) + ' ' + session_.firmware.FwrModelName + '!',
                             QString::fromLatin1(kBoxTitle), kBoxOkWarning);
        return false;
    }
    if (!device_.EnterDeepSleep()) {
        if (!closeRequested_) {
            view_.ShowMessageBox(QString::fromLatin1(kDeepSleepFailed), QString::fromLatin1(kBoxTitle),
                                 kBoxOkCritical);
        }
        return false;
    }
    return true;
}

void StageMachine::NextClick() {
    if (ended_ || busy_ != Busy::None)
        return;
    currentStage_ += 1;

    if (currentStage_ == 2) {
        SetBusy(Busy::Connecting);
        const bool connected = ConnectToDc();
        busy_ = Busy::None;
        if (!connected)
            currentStage_ = 1;
        view_.SetButtonEnabled(WizardButton::Next, true);
        view_.SetButtonEnabled(WizardButton::Back, currentStage_ > 1);
        if (closeRequested_) {
            CloseAfterStop();
            return;
        }
        if (!connected)
            return;
    }

    if (currentStage_ < 3) {
        LoadStepInstructions(currentStage_);
        view_.SetButtonEnabled(WizardButton::Back, currentStage_ > 1);
        return;
    }

    session_.profile.ProfileBackupActive = true;
    // A backup this run left unrestored stays offered at Close until an attempt confirms a restore.
    ForgetVanishedBackup(session_.profile);
    view_.SetFrameVisible(false);
    view_.SetTaskListVisible(true);
    view_.SetButtonEnabled(WizardButton::Next, false);
    RunUpdate();
}

void StageMachine::RunUpdate() {
    // Back would re-enter the stage machine under a running upload: it waits until the update has ended.
    SetBusy(Busy::Updating);
    updateRan_ = true;
    UpdateAttempt attempt;
    lastUpdateSucceeded_ = device_.UpdateFirmware(attempt);
    RecordAttempt(std::move(attempt));
    if (!lastUpdateSucceeded_ && !options_.LogPath.isEmpty()) {
        tasks_.AddRow(IconInformation,
                      texts_.GetText(Txt::LogLocation).arg(QDir::toNativeSeparators(options_.LogPath)),
                      QString());
    }
    if (options_.OnUpdateEnded)
        options_.OnUpdateEnded(lastUpdateSucceeded_);
    busy_ = Busy::None;
    view_.SetButtonEnabled(WizardButton::Back, true);
    if (closeRequested_) {
        CloseAfterStop();
        return;
    }
    view_.SetButtonVisible(WizardButton::Next, false);
    view_.SetButtonVisible(WizardButton::Again, true);
}

// The history is the shop's record, not part of the update: a failure to keep it is one row, no more.
void StageMachine::RecordAttempt(UpdateAttempt attempt) {
    if (firmwareSha256_.isEmpty()) {
        QFile file(firmwareFilePath_);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (file.open(QIODevice::ReadOnly) && hash.addData(&file))
            firmwareSha256_ = QString::fromLatin1(hash.result().toHex());
    }
    attempt.firmwareName = QFileInfo(firmwareFilePath_).fileName();
    attempt.firmwareSha256 = firmwareSha256_;
    attempt.logFile = options_.LogPath;
    lastAttempt_ = attempt;
    if (session_.HistoryFile.isEmpty())
        return;
    QString why;
    if (!AppendToHistory(session_.HistoryFile, attempt, &why)) {
        tasks_.AddRow(
            IconInformation,
            texts_.GetText(Txt::HistoryNotWritten).arg(QDir::toNativeSeparators(session_.HistoryFile), why),
            QString());
    }
}

// Close came while the DC was busy: the stop has ended the exchange, and the recovery that Close may run
// needs a working link.
void StageMachine::CloseAfterStop() {
    device_.ClearStop();
    CloseSequence();
}

void StageMachine::BackClick() {
    if (ended_ || busy_ != Busy::None)
        return;
    if (currentStage_ > 1) {
        currentStage_ = 1;
        view_.SetButtonEnabled(WizardButton::Back, false);
        GoBack();
    }
    LoadStepInstructions(currentStage_);
}

void StageMachine::AgainClick() {
    if (ended_ || busy_ != Busy::None || currentStage_ < 3)
        return;
    // Nothing of the DC just updated may pass for the next one's; a backup of it that still waits stays one
    // of the run's files, named at Close.
    session_.profile = session_.profile.ForNextDc();
    currentStage_ = 1;
    GoBack();
    LoadStepInstructions(1);
}

void StageMachine::GoBack() {
    view_.SetButtonVisible(WizardButton::Again, false);
    view_.SetButtonVisible(WizardButton::Next, true);
    view_.SetButtonEnabled(WizardButton::Next, true);
    view_.SetButtonEnabled(WizardButton::Back, false);
    view_.SetFrameVisible(true);
    tasks_.Clear();
    view_.SetTaskListVisible(false);
}

void StageMachine::ResetStage() {
    priority_.SetProcessPriority(0, 0, PriorityNormal);
    if (busy_ == Busy::None)
        view_.SetButtonEnabled(WizardButton::Back, true);
}

void StageMachine::LoadStepInstructions(int n) {
    switch (InstructionPagePicture(n)) {
        case PictureOnPage::Hidden:
            view_.SetPictureVisible(false);
            break;
        case PictureOnPage::Shown:
            view_.SetPictureVisible(true);
            break;
        case PictureOnPage::Unchanged:
            break;
    }
    view_.SetInstructionText(InstructionPageText(n, texts_));
}

void StageMachine::CloseClick() {
    if (ended_ || closeRequested_ || busy_ == Busy::Closing)
        return;
    if (busy_ == Busy::Updating) {
        // No is the default: a stray Enter must not stop an upload.
        const BoxAnswer answer =
            view_.ShowMessageBox(texts_.GetText(Txt::CloseDuringUpdate),
                                 QStringLiteral("KAV 1F ") + texts_.GetText(Txt::FirmwareUpdate),
                                 kBoxYesNoWarning.WithSecondDefault());
        if (answer != BoxAnswer::Yes || ended_ || busy_ != Busy::Updating)
            return;
    }
    CloseConfirmed();
}

void StageMachine::CloseConfirmed() {
    if (ended_ || closeRequested_ || busy_ == Busy::Closing)
        return;
    if (busy_ == Busy::None) {
        CloseSequence();
        return;
    }
    // The DC is busy: the stop ends the exchange (an update unwinds through its own failure paths and its
    // finish), and Close follows when it has returned.
    closeRequested_ = true;
    device_.RequestStop();
}

void StageMachine::CloseSequence() {
    if (ended_ || busy_ == Busy::Closing)
        return;
    SetBusy(Busy::Closing);
    const bool recovery = !session_.profile.Restored;
    if (recovery)
        device_.ProfileRecovering();
    device_.NameWaitingBackups(recovery);
    view_.SetOnTop(false);
    device_.StopLink();
    view_.RemoveTrayIcon();
    device_.ReleaseLink();
    const QString& program = programOnClose_;
    if (!program.isEmpty() && options_.StartProgram) {
        options_.StartProgram(QDir(options_.AppDir).filePath(program));  // a missing program fails silently
    }
    texts_.Close();
    if (!startupOk_) {
        End(ExitStartupEnded);
    } else if (updateRan_) {
        End(lastUpdateSucceeded_ ? ExitUpdateSucceeded : ExitUpdateFailed);
    } else {
        End(ExitClosedBeforeUpdate);
    }
}

void StageMachine::End(int status) {
    ended_ = true;
    exitStatus_ = status;
    if (OnEnded)
        OnEnded();
}
