#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

#include "run/session.h"
#include "run/task_list.h"
#include "run/update_history.h"
#include "run/wizard_view.h"
#include "support/process_priority.h"
#include "support/text_database.h"
#include "wizard/device_operations.h"

// How the program was started: where things are and what the command line overrides.
struct StartupOptions {
    QString AppDir;                      // firmware file, agreement file, program to start at close
    QString BackupDir;                   // backup files; empty: the application folder
    QString ExeDir;                      // the text database is also looked for beside the executable ...
    QString DataDir;                     // ... and in the installed data folder
    QString FirmwareFile;                // overrides the firmware file of string resource 201
    std::optional<double> LanguageCode;  // overrides the language code of string resource 201
    QString StartupResource;             // string resource 201 (the user's language variant)
    std::function<bool(const QString& program)> StartProgram;  // starts the program named for Close, detached
    QString LogPath;      // the run log, named in the task list after a failed update; empty: none
    QString HistoryFile;  // every attempt is appended to it; empty: no history kept
    std::function<void(bool succeeded)> OnUpdateEnded;  // each update's end, its rows shown
    // The DC on the line is the simulated one, the only one the demo firmware may be written to.
    bool SimulatedDc = false;
    // --simulate: without a firmware file of its own the wizard runs on the demo firmware.
    bool FindDemoFirmware = false;
};

// The firmware file an update writes: --firmware, else the file the start-up resource names in the
// application folder, else with --simulate the demo firmware. The path is returned whether the file is there
// or not.
QString FirmwareFileFor(const StartupOptions& options);

// Exit statuses of the program: the public contract of terminal mode.
enum ExitStatus : int {
    ExitUpdateSucceeded = 0,
    ExitUpdateFailed = 1,
    ExitStartupEnded = 2,
    ExitClosedBeforeUpdate = 3,
};

// The wizard's stages and every transition of the buttons, written once for both front ends.
class StageMachine {
public:
    StageMachine(Session& session, WizardView& view, TaskList& tasks, TextDatabase& texts,
                 DeviceOperations& device, PriorityControl& priority, StartupOptions options);

    // Load: stage 1 and the start-up sequence. False when start-up ended (the exit status says why).
    bool Load();

    void NextClick();
    void BackClick();
    void AgainClick();      // after an update: page 1 for the next DC, in the same run
    void CloseClick();      // also what closing the window from its title bar does
    void CloseConfirmed();  // Close with its question already answered Yes (a signal in terminal mode)
    // A drop on the window: the firmware file it would choose, or nothing when it is refused. Page 1 takes
    // one local *.fwr file (in any case) while nothing talks to the DC.
    std::optional<QString> DroppableFirmwareFile(const QList<QUrl>& urls) const;
    // The dropped file, chosen as in the file dialog: checked at once, refused with the loader's box. False:
    // refused; the file before stays, with its rows.
    bool FirmwareFileDropped(const QString& path);

    // Form operations that later steps call.
    void GoBack();
    void ResetStage();
    void LoadStepInstructions(int n);

    bool Ended() const { return ended_; }
    int ExitCode() const { return exitStatus_; }
    // The newest update attempt of this run, as the history keeps it.
    const std::optional<UpdateAttempt>& LastAttempt() const { return lastAttempt_; }
    bool UpdateRunning() const { return busy_ == Busy::Updating; }
    bool UpdateHasRun() const { return updateRan_; }
    bool TalkingToDc() const { return busy_ == Busy::Connecting || busy_ == Busy::Updating; }
    bool Closing() const { return busy_ == Busy::Closing; }  // the Close sequence runs (the recovery may ask)
    int CurrentStage() const { return currentStage_; }
    int LanguageColumn() const { return languageColumn_; }
    const QString& FirmwareFilePath() const { return firmwareFilePath_; }

    std::function<void()> OnEnded;  // the front end leaves its event loop

private:
    // What talks to the DC right now. While it does, Next and Back are off and their clicks ignored, since
    // the waits deliver clicks; Close is asked, deferred or ignored.
    enum class Busy { None, Connecting, Updating, Closing };

    void StartUp();
    bool LoadFirmware();
    bool DemoRefused();  // the demo firmware for a real DC: refused with a box
    void ShowPage1();
    bool OpenTextDatabase();
    bool ConnectToDc();  // page 1: identify, check the model, enter Deep Sleep
    void RunUpdate();
    void RecordAttempt(UpdateAttempt attempt);
    void SetBusy(Busy busy);
    void CloseAfterStop();
    void CloseSequence();
    void End(int status);

    Session& session_;
    WizardView& view_;
    TaskList& tasks_;
    TextDatabase& texts_;
    DeviceOperations& device_;
    PriorityControl& priority_;
    StartupOptions options_;

    bool ended_ = false;
    int exitStatus_ = ExitClosedBeforeUpdate;
    Busy busy_ = Busy::None;
    bool updateRan_ = false;
    bool lastUpdateSucceeded_ = false;
    bool closeRequested_ = false;
    bool startupOk_ = false;
    int currentStage_ = 1;
    QString firmwareFilePath_;
    QString firmwareSha256_;  // of the file at firmwareFilePath_, once an attempt has needed it
    std::optional<UpdateAttempt> lastAttempt_;
    QString programOnClose_;  // started at Close
    int languageColumn_ = 1;
};

inline constexpr const char* kDesignCaption = "KAV 1F Firmware Update";
inline constexpr const char* kBoxTitle = "Firmware Update";
inline constexpr const char* kDeepSleepFailed =
    "Could not set DC into Deep Sleep mode. Please replease step 1 to 4 again.";
