#pragma once

#include <QIcon>
#include <QList>
#include <QUrl>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "run/wizard_view.h"

class ArtworkView;
class CaptionFrame;
class QDropEvent;
class QLabel;
class QPushButton;
class QSystemTrayIcon;
class QTreeWidget;
class QTreeWidgetItem;
class RowProgress;
class TextDatabase;
class TitleBand;

// Texts whose lines are separated by "\r\n", as Qt shows them.
QString WithLineBreaks(QString text);

// The wizard's window. It only shows what it is told and reports clicks; the stage machine holds all the
// logic.
class WizardWindow : public QWidget, public WizardView {
    Q_OBJECT

public:
    static constexpr int kTaskIconRole = Qt::UserRole + 1;  // the row's TaskIcon number, on column 0

    explicit WizardWindow(QWidget* parent = nullptr);
    ~WizardWindow() override;

    void SetWindowCaption(const QString& caption) override;
    void SetFrameCaption(const QString& caption) override;
    void SetFrameVisible(bool visible) override;
    void SetInstructionText(const QString& text) override;
    void SetPictureVisible(bool visible) override;

    void SetTaskListVisible(bool visible) override;
    void SetColumnHeaders(const QString& time, const QString& event, const QString& status) override;
    void AppendTaskRow(int icon, const QString& time, const QString& event, const QString& status) override;
    void SetNewestTaskStatus(const QString& status) override;
    void SetNewestTaskProgress(const TransferProgress& progress) override;
    void ShowNewestTaskLive(const QString& shown) override;
    void SetTimeLeftFormat(const QString& format) override { timeLeftFormat_ = format; }
    void ClearTaskRows() override;

    void SetButtonCaption(WizardButton button, const QString& caption) override;
    void SetButtonEnabled(WizardButton button, bool enabled) override;
    void SetButtonVisible(WizardButton button, bool visible) override;

    BoxAnswer ShowMessageBox(const QString& text, const QString& title, BoxStyle style) override;
    std::optional<QString> ChooseFirmwareFile(const FirmwareFileChoice& choice) override;
    std::optional<int> ChooseCable(const CableChoice& choice) override;

    void SetOnTop(bool onTop) override;
    void ShowTrayIcon(const QString& caption) override;
    void RemoveTrayIcon() override;

    // From now on closing the window really closes it; until then a close request is handed to OnClose.
    void AllowClose() { closeAllowed_ = true; }
    // What assistive technology calls the task list and reads for the rows' icons, in the wizard's language.
    void SetAccessibleTexts(const TextDatabase& texts);

    std::function<void()> OnNext, OnBack, OnClose, OnPrint, OnAgain;
    // A drag over the window is taken when DroppableFile names the file it brings; OnFileDropped gets that
    // file once the drop is over, outside the drag's own events, since it may show a box.
    std::function<std::optional<QString>(const QList<QUrl>&)> DroppableFile;
    std::function<void(const QString&)> OnFileDropped;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The constructor's steps, in the order it takes them: the order of creation stacks the widgets.
    void SetUpWindow(const QString& caption);
    void BuildTitleBand(const QString& caption);
    void BuildSideBanner();
    void BuildTaskList();
    void SetUpTaskColumns();
    void BuildPage();
    void BuildButtons();
    QPushButton* Button(WizardButton button) const;
    QPushButton* MakeButton(const char* name, const QString& caption, const QRect& geometry,
                            std::function<void()> WizardWindow::*handler);
    void FitPictureAboveText();
    // percent: a transfer's bar, and its rate beside the event.
    void SetNewestStatus(const QString& status, std::optional<int> percent = std::nullopt,
                         const QString& rate = QString());
    void ShowProgress(QTreeWidgetItem* row, std::optional<int> percent, const QString& rate);
    void Describe(QTreeWidgetItem* row) const;
    void ShowTray();
    QString AskForFirmwareFile(const FirmwareFileChoice& choice);
    std::optional<QString> FileIn(const QDropEvent& event) const;
    void UpdateMnemonics();

    TitleBand* titleBand_ = nullptr;
    ArtworkView* sideBanner_ = nullptr;
    CaptionFrame* pageFrame_ = nullptr;
    QLabel* pageText_ = nullptr;
    ArtworkView* dcPicture_ = nullptr;
    QTreeWidget* taskList_ = nullptr;
    RowProgress* progress_ = nullptr;  // the running transfer's, while there is one
    QPushButton* printButton_ = nullptr;
    QPushButton* backButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPushButton* againButton_ = nullptr;
    std::array<QIcon, 3> taskIcons_;
    std::array<QString, 3> iconWords_;  // what the icons say, for those who do not see them
    std::unique_ptr<QSystemTrayIcon> tray_;
    QString trayCaption_;  // the tray icon is wanted with this caption; it shows while the window does
    bool trayWanted_ = false;
    QString timeLeftFormat_ = kEnglishTimeLeft;
    std::array<QString, 5> captions_;  // Next, Back, Close, Print, Again without their mnemonics
    bool closeAllowed_ = false;
};
