#include "wizard/stage_machine.h"

#include <QDir>
#include <QFileInfo>

#include "firmware/firmware_loader.h"
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
    session_.wizard.CurrentStage = 1;
    session_.EnterDeepSleep = false;
    view_.SetButtonVisible(WizardButton::Print, false);
    view_.SetButtonVisible(WizardButton::Next, true);
    view_.SetButtonVisible(WizardButton::Back, true);
    view_.SetButtonVisible(WizardButton::Close, true);
    view_.SetButtonEnabled(WizardButton::Back, false);
    view_.SetButtonEnabled(WizardButton::Next, true);
    view_.SetButtonEnabled(WizardButton::Close, true);
    InitInfo();
    return startupOk_;
}

void StageMachine::InitInfo() {
    WizardState& form = session_.wizard;
    session_.AppDir = options_.AppDir;
    session_.BackupDir = options_.BackupDir;
    if (!options_.BackupDir.isEmpty())
        QDir().mkpath(options_.BackupDir);  // a failure shows when the backup cannot be written
    form.ResourceFields = options_.StartupResource.split(QLatin1Char('|'));
    const QString fileName = options_.FirmwareFile.isEmpty() ? form.ResourceFields.value(0) : QString();
    form.FirmwareFilePath =
        options_.FirmwareFile.isEmpty() ? QDir(options_.AppDir).filePath(fileName) : options_.FirmwareFile;
    if (options_.FindDemoFirmware && options_.FirmwareFile.isEmpty() &&
        !QFileInfo(form.FirmwareFilePath).isFile()) {
        const QString demo = FindFileIn(QString::fromLatin1(kDemoFirmwareName),
                                        {options_.AppDir, options_.ExeDir, options_.DataDir});
        if (!demo.isEmpty())
            form.FirmwareFilePath = demo;
    }
    form.ProgramOnClose = form.ResourceFields.size() >= 3 ? form.ResourceFields[2] : QString();
    form.LanguageColumn = options_.LanguageCode ? LanguageColumnForCode(*options_.LanguageCode)
                                                : LanguageColumnFromResource(form.ResourceFields);

    if (!OpenTextDatabase()) {
        End(ExitStartupEnded);
        return;
    }
    tasks_.SetTimeLeftFormat(texts_.GetText(Txt::TimeLeft));
    view_.SetOnTop(true);
    view_.SetWindowCaption(QString::fromLatin1(kDesignCaption));
    view_.ShowTrayIcon(QString::fromLatin1(kDesignCaption));
    view_.SetWindowCaption(QStringLiteral("KAV 1F ") + texts_.GetText(Txt::FirmwareUpdate));
    form.ProfileRestored = true;

    if (!device_.GetCode()) {
        CloseSequence();
        return;
    }
    if (session_.firmware.Demo && !options_.SimulatedDc) {
        // Its generated image would leave a diver's computer without working firmware.
        view_.ShowStartupError(
            texts_.GetText(Txt::DemoFirmwareRefused).arg(QDir::toNativeSeparators(form.FirmwareFilePath)),
            QString::fromLatin1(kBoxTitle));
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
    LoadStepInstructions(1);
    view_.SetFrameCaption(texts_.GetText(Txt::Instructions).toUpper());
    view_.SetButtonCaption(WizardButton::Back, texts_.GetText(Txt::Back));
    view_.SetButtonCaption(WizardButton::Close, texts_.GetText(Txt::Close));
    view_.SetButtonCaption(WizardButton::Next, texts_.GetText(Txt::Next));
    view_.SetColumnHeaders(texts_.GetText(Txt::ColumnTime), texts_.GetText(Txt::ColumnEvent),
                           texts_.GetText(Txt::ColumnStatus));
    startupOk_ = true;
}

bool StageMachine::OpenTextDatabase() {
    const QString path = FindTextDatabase(options_.AppDir, options_.ExeDir, options_.DataDir);
    if (texts_.Open(path, session_.wizard.LanguageColumn) == TextDatabase::OpenResult::Ok)
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
    if (!device_.ReadDeviceId() || closeRequested_)
        return false;
    if (!CheckDeviceId(session_.device.DeviceIdText, session_.firmware.FwrModelId,
                       session_.device.DeviceVersion)) {
        view_.ShowMessageBox(texts_.GetText(Txt::UpdateOnlyFor) + ' ' + session_.firmware.FwrModelName + '!',
                             QString::fromLatin1(kBoxTitle), kBoxOkWarning);
        return false;
    }
    session_.EnterDeepSleep = true;
    if (!device_.SetDeepSleep()) {
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
    WizardState& form = session_.wizard;
    form.CurrentStage += 1;

    if (form.CurrentStage == 2) {
        SetBusy(Busy::Connecting);
        const bool connected = ConnectToDc();
        busy_ = Busy::None;
        if (!connected)
            form.CurrentStage = 1;
        view_.SetButtonEnabled(WizardButton::Next, true);
        view_.SetButtonEnabled(WizardButton::Back, form.CurrentStage > 1);
        if (closeRequested_) {
            CloseAfterStop();
            return;
        }
        if (!connected)
            return;
    }

    if (form.CurrentStage < 3) {
        LoadStepInstructions(form.CurrentStage);
        view_.SetButtonEnabled(WizardButton::Back, form.CurrentStage > 1);
        return;
    }

    session_.EnterDeepSleep = false;
    session_.profile.ProfileBackupActive = true;
    // A backup this run left unrestored stays offered at Close until an attempt confirms a restore.
    form.ProfileRestored = form.ProfileRestored || !FileExists(session_.profile.BackupFilePath);
    view_.SetFrameVisible(false);
    view_.SetTaskListVisible(true);
    view_.SetButtonEnabled(WizardButton::Next, false);
    if (!session_.UpdateAborted)
        RunUpdate();
}

void StageMachine::RunUpdate() {
    // Back would re-enter the stage machine under a running upload: it waits until the update has ended.
    SetBusy(Busy::Updating);
    updateRan_ = true;
    lastUpdateSucceeded_ = device_.UpdateFirmware();
    if (!lastUpdateSucceeded_ && !options_.LogPath.isEmpty()) {
        tasks_.InsertTaskList(
            IconInformation, texts_.GetText(Txt::LogLocation).arg(QDir::toNativeSeparators(options_.LogPath)),
            QString());
    }
    busy_ = Busy::None;
    view_.SetButtonEnabled(WizardButton::Back, true);
    if (closeRequested_)
        CloseAfterStop();
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
    if (session_.wizard.CurrentStage > 1) {
        session_.wizard.CurrentStage = 1;
        view_.SetButtonEnabled(WizardButton::Back, false);
        GoBack();
    }
    LoadStepInstructions(session_.wizard.CurrentStage);
}

void StageMachine::GoBack() {
    view_.SetButtonEnabled(WizardButton::Next, true);
    view_.SetButtonEnabled(WizardButton::Back, false);
    view_.SetFrameVisible(true);
    tasks_.Clear();
    view_.SetTaskListVisible(false);
    session_.UpdateAborted = false;
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
    const bool recovery = !session_.wizard.ProfileRestored;
    if (recovery)
        device_.ProfileRecovering();
    device_.NameWaitingBackups(recovery);
    view_.SetOnTop(false);
    device_.StopLink();
    view_.RemoveTrayIcon();
    device_.ReleaseLink();
    const QString& program = session_.wizard.ProgramOnClose;
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
