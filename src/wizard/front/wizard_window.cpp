#include "wizard/front/wizard_window.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyleOption>
#include <QSystemTrayIcon>
#include <QTreeWidget>
#include <QWindow>

#include "support/text_database.h"
#include "wizard/front/artwork.h"
#include "wizard/front/skin_accessibility.h"
#include "wizard/front/skin_widgets.h"
#include "wizard/front/task_row_delegate.h"

// Resources in a static library must be registered by hand, and from the global namespace.
static void RegisterWizardResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(wizard);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace {

// Where everything sits, in pixels: the window keeps one size.
constexpr QSize kWindowSize{679, 456};
constexpr QRect kTitleBandArea{0, 0, kWindowSize.width(), 30};
constexpr QRect kSideBannerArea{0, 32, 141, 358};
constexpr QRect kPageArea{144, 32, 529, 361};    // the instruction page or the task list, one at a time
constexpr QRect kPageTextArea{8, 16, 513, 337};  // in the page's frame
constexpr QRect kPictureArea{56, 16, 389, 174};  // in the page's frame, over the text's empty first lines
constexpr int kFooterTop = 404;
constexpr QRect kPrintButtonArea{16, 424, 73, 25};
constexpr QRect kBackButtonArea{280, 424, 97, 25};
constexpr QRect kNextButtonArea{400, 424, 97, 25};
constexpr QRect kCloseButtonArea{576, 424, 97, 25};
// In the place of Next, which it replaces after an update, widened towards Back and Close for its longer
// caption.
constexpr QRect kAgainButtonArea{388, 424, 180, 25};

// The focused button, in the window and in its boxes, stands out from the default one and from one under the
// mouse, also while pressed: a dark ring two pixels wide and a paler face. Last, so that it wins.
constexpr char kFocusRing[] = R"(
QPushButton:focus, QPushButton:focus:hover, QPushButton:focus:pressed {
    border: 2px solid #0b3d80;
    padding: 1px 9px;
}
QPushButton:focus:!pressed {
    background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #ffffff, stop: 1 #e1eefc);
}
)";

// Until the texts come.
constexpr std::array<const char*, 3> kEnglishIconWords{"started", "information", "failed"};

enum TaskColumn : int { ColIcon = 0, ColTime = 1, ColEvent = 2, ColStatus = 3 };

// The page-2 text opens with this many empty lines to make room for the picture above it.
constexpr int kLinesAbovePageText = 10;

// A box's style in QMessageBox terms.
struct MessageBoxSetup {
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
    // Also what closing the box counts as. NoButton: Escape and closing choose nothing, so that no choice is
    // ever made for the user.
    QMessageBox::StandardButton escapeButton = QMessageBox::Ok;
};

MessageBoxSetup MessageBoxSetupFor(BoxStyle style) {
    MessageBoxSetup setup;
    switch (style.buttons) {
        case BoxButtons::Ok:
            setup.buttons = QMessageBox::Ok;
            setup.escapeButton = QMessageBox::Ok;
            break;
        case BoxButtons::OkCancel:
            setup.buttons = QMessageBox::Ok | QMessageBox::Cancel;
            setup.defaultButton = style.secondIsDefault ? QMessageBox::Cancel : QMessageBox::Ok;
            // Not Cancel: in the profile's recovery Cancel gives the backup up, and a stray key is no answer.
            setup.escapeButton = QMessageBox::NoButton;
            break;
        case BoxButtons::YesNo:
            setup.buttons = QMessageBox::Yes | QMessageBox::No;
            setup.defaultButton = style.secondIsDefault ? QMessageBox::No : QMessageBox::Yes;
            setup.escapeButton = QMessageBox::NoButton;
            break;
    }
    switch (style.icon) {
        case BoxIcon::Critical:
            setup.icon = QMessageBox::Critical;
            break;
        case BoxIcon::Warning:
            setup.icon = QMessageBox::Warning;
            break;
        case BoxIcon::Information:
            setup.icon = QMessageBox::Information;
            break;
    }
    return setup;
}

// A box closed without a button counts as its escape button.
BoxAnswer MessageBoxAnswerFor(QMessageBox::StandardButton pressed, const MessageBoxSetup& setup) {
    if (pressed == QMessageBox::NoButton || !setup.buttons.testFlag(pressed)) {
        pressed = setup.escapeButton;
    }
    switch (pressed) {
        case QMessageBox::NoButton:
            return BoxAnswer::None;
        case QMessageBox::Cancel:
            return BoxAnswer::Cancel;
        case QMessageBox::Yes:
            return BoxAnswer::Yes;
        case QMessageBox::No:
            return BoxAnswer::No;
        default:
            return BoxAnswer::Ok;
    }
}

}  // namespace

QString WithLineBreaks(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

WizardWindow::WizardWindow(QWidget* parent) : QWidget(parent) {
    RegisterWizardResources();
    InstallSkinAccessibility();
    const QString startCaption = QStringLiteral("KAV 1F Firmware Update");
    SetUpWindow(startCaption);
    for (int icon = IconStarted; icon <= IconFailure; ++icon) {
        taskIcons_[static_cast<std::size_t>(icon)] = artwork::TaskIcon(icon);
        iconWords_[static_cast<std::size_t>(icon)] =
            QString::fromLatin1(kEnglishIconWords[static_cast<std::size_t>(icon)]);
    }
    BuildTitleBand(startCaption);
    BuildSideBanner();
    // The list lies under the frame: created first, so the frame stacks above it.
    BuildTaskList();
    BuildPage();
    BuildButtons();
    progress_ = new RowProgress(this);
    progress_->setObjectName(QStringLiteral("RowProgress"));
    progress_->hide();
}

void WizardWindow::SetUpWindow(const QString& caption) {
    setObjectName(QStringLiteral("WizardWindow"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(kWindowSize);
    setAcceptDrops(true);  // a firmware file dropped on page 1 is chosen as in the file dialog
    setWindowIcon(artwork::WindowIcon());
    setWindowTitle(caption);

    QFile styleSheet(QStringLiteral(":/kav/wizard.qss"));
    if (styleSheet.open(QIODevice::ReadOnly)) {
        setStyleSheet(QString::fromUtf8(styleSheet.readAll()) + QLatin1String(kFocusRing));
    }
}

void WizardWindow::BuildTitleBand(const QString& caption) {
    titleBand_ = new TitleBand(this);
    titleBand_->setObjectName(QStringLiteral("TitleBand"));
    titleBand_->setGeometry(kTitleBandArea);
    titleBand_->setContentsMargins(8, 0, 8, 0);
    titleBand_->SetText(caption);
    MarkDecoration(titleBand_);  // the window's own title says the same
}

void WizardWindow::BuildSideBanner() {
    sideBanner_ = new ArtworkView(artwork::PaintSideBanner, this);
    sideBanner_->setObjectName(QStringLiteral("SideBanner"));
    sideBanner_->setGeometry(kSideBannerArea);
    MarkDecoration(sideBanner_);
}

void WizardWindow::BuildTaskList() {
    taskList_ = new QTreeWidget(this);
    taskList_->setObjectName(QStringLiteral("TaskList"));
    taskList_->setGeometry(kPageArea);
    taskList_->setColumnCount(4);
    taskList_->setHeaderLabels(
        {QString(), QStringLiteral("Time"), QStringLiteral("Event"), QStringLiteral("Status")});
    taskList_->setRootIsDecorated(false);
    taskList_->setItemsExpandable(false);
    taskList_->setUniformRowHeights(true);
    taskList_->setAlternatingRowColors(true);
    taskList_->setSelectionMode(QAbstractItemView::NoSelection);
    taskList_->setFocusPolicy(Qt::NoFocus);
    taskList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    taskList_->setIconSize(QSize(16, 16));
    taskList_->setItemDelegate(new TaskRowDelegate(ColIcon, ColEvent, ColStatus, taskList_));
    taskList_->setAccessibleName(QStringLiteral("Steps of the update"));
    SetUpTaskColumns();
    taskList_->hide();
}

void WizardWindow::SetUpTaskColumns() {
    QHeaderView* header = taskList_->header();
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    header->setSectionsClickable(false);
    header->setMinimumSectionSize(24);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionResizeMode(ColEvent, QHeaderView::Stretch);
    // As narrow as their contents allow: the event gets what is left.
    header->resizeSection(ColIcon, 26);
    header->resizeSection(ColTime, 62);
    header->resizeSection(ColStatus, 92);
}

void WizardWindow::BuildPage() {
    pageFrame_ = new CaptionFrame(this);
    pageFrame_->setObjectName(QStringLiteral("PageFrame"));
    pageFrame_->setGeometry(kPageArea);

    pageText_ = new PageText(pageFrame_);
    pageText_->setObjectName(QStringLiteral("PageText"));
    pageText_->setGeometry(kPageTextArea);
    pageText_->setTextFormat(Qt::PlainText);
    pageText_->setWordWrap(true);
    pageText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pageText_->setAccessibleName(QStringLiteral("Instructions"));
    // Selectable for a reader and for assistive technology, but never in the way of Enter and Tab.
    pageText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pageText_->setFocusPolicy(Qt::NoFocus);

    dcPicture_ = new ArtworkView(artwork::PaintDiveComputer, pageFrame_);
    dcPicture_->setObjectName(QStringLiteral("DcPicture"));
    dcPicture_->setGeometry(kPictureArea);
    dcPicture_->hide();
    MarkDecoration(dcPicture_);  // the text says all it shows
}

void WizardWindow::BuildButtons() {
    printButton_ =
        MakeButton("PrintButton", QStringLiteral("Print"), kPrintButtonArea, &WizardWindow::OnPrint);
    backButton_ = MakeButton("BackButton", QStringLiteral("Back"), kBackButtonArea, &WizardWindow::OnBack);
    nextButton_ = MakeButton("NextButton", QStringLiteral("Next"), kNextButtonArea, &WizardWindow::OnNext);
    closeButton_ =
        MakeButton("CloseButton", QStringLiteral("Close"), kCloseButtonArea, &WizardWindow::OnClose);
    againButton_ = MakeButton("AgainButton", QStringLiteral("Update another DC"), kAgainButtonArea,
                              &WizardWindow::OnAgain);
    againButton_->hide();
    backButton_->setEnabled(false);
    // Enter is Next unless another button has the focus; Escape is Close.
    nextButton_->setDefault(true);
    captions_ = {nextButton_->text(), backButton_->text(), closeButton_->text(), printButton_->text(),
                 againButton_->text()};
    UpdateMnemonics();
    setTabOrder(printButton_, backButton_);
    setTabOrder(backButton_, nextButton_);
    setTabOrder(nextButton_, againButton_);
    setTabOrder(againButton_, closeButton_);
    nextButton_->setFocus();
}

WizardWindow::~WizardWindow() {
    RemoveTrayIcon();
}

QPushButton* WizardWindow::MakeButton(const char* name, const QString& caption, const QRect& geometry,
                                      std::function<void()> WizardWindow::*handler) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setAutoDefault(true);  // Enter presses the button that has the focus
    connect(button, &QPushButton::clicked, this, [this, handler] {
        // A copy, so that a handler may replace the callbacks while it runs.
        const std::function<void()> callback = this->*handler;
        if (callback) {
            callback();
        }
    });
    return button;
}

QPushButton* WizardWindow::Button(WizardButton button) const {
    switch (button) {
        case WizardButton::Next:
            return nextButton_;
        case WizardButton::Back:
            return backButton_;
        case WizardButton::Close:
            return closeButton_;
        case WizardButton::Print:
            return printButton_;
        case WizardButton::Again:
            return againButton_;
    }
    return nextButton_;
}

void WizardWindow::SetWindowCaption(const QString& caption) {
    setWindowTitle(caption);
    titleBand_->SetText(caption);
}

void WizardWindow::SetFrameCaption(const QString& caption) {
    pageFrame_->SetCaption(caption);
    pageText_->setAccessibleName(caption);
}

void WizardWindow::SetFrameVisible(bool visible) {
    pageFrame_->setVisible(visible);
}

void WizardWindow::SetInstructionText(const QString& text) {
    const QString before = pageText_->text();
    pageText_->setText(WithLineBreaks(text));
    pageText_->setAccessibleDescription(pageText_->text().trimmed());
    if (pageText_->text() != before && QAccessible::isActive()) {
        // A new page: the reader is told the text that replaced the old one.
        QAccessibleInterface* page = QAccessible::queryAccessibleInterface(pageText_);
        if (QAccessibleTextInterface* shown = page != nullptr ? page->textInterface() : nullptr) {
            QAccessibleTextUpdateEvent event(pageText_, 0, before.trimmed(),
                                             shown->text(0, shown->characterCount()));
            QAccessible::updateAccessibility(&event);
        }
        Announce(pageText_, pageText_->text().trimmed());
    }
}

void WizardWindow::SetPictureVisible(bool visible) {
    if (visible) {
        FitPictureAboveText();
    }
    dcPicture_->setVisible(visible);
}

void WizardWindow::FitPictureAboveText() {
    // The empty lines at the head of the page make room for the picture; the drawing shrinks to fit that room
    // in whatever font the label ends up with.
    pageText_->ensurePolished();
    const int textTop = pageText_->y() + pageText_->contentsRect().top() + pageText_->margin() +
                        kLinesAbovePageText * pageText_->fontMetrics().lineSpacing();
    const int room = qBound(40, textTop - dcPicture_->y() - 4, dcPicture_->height());
    dcPicture_->SetArtRect(QRect(0, 0, dcPicture_->width(), room));
}

void WizardWindow::SetTaskListVisible(bool visible) {
    taskList_->setVisible(visible);
    if (!visible)
        progress_->hide();
}

void WizardWindow::SetColumnHeaders(const QString& time, const QString& event, const QString& status) {
    taskList_->setHeaderLabels({QString(), time, event, status});
}

// The row's whole text, for its tooltip, and for assistive technology as one line: the cells may show it cut,
// and its icon says what only a picture says.
void WizardWindow::Describe(QTreeWidgetItem* row) const {
    const QString event = row->text(ColEvent);
    const QString status = row->text(ColStatus);
    const QString rate = row->data(ColStatus, TaskRowDelegate::kRateRole).toString();
    const int icon = row->data(ColIcon, kTaskIconRole).toInt();
    const QString word =
        icon >= IconStarted && icon <= IconFailure ? iconWords_[std::size_t(icon)] : QString();
    row->setData(ColIcon, Qt::AccessibleTextRole, word);
    const QString shownStatus = rate.isEmpty() ? status : status + QStringLiteral(" · ") + rate;
    const QString tip = shownStatus.isEmpty() ? event : event + QStringLiteral(" : ") + shownStatus;
    QStringList line{row->text(ColTime), event};
    // A status says how the step went; a row without one is told by its icon.
    line << (status.isEmpty() ? word : shownStatus);
    for (int column = ColIcon; column <= ColStatus; ++column) {
        row->setToolTip(column, tip);
        row->setData(column, Qt::AccessibleDescriptionRole, line.join(QStringLiteral(", ")));
    }
}

void WizardWindow::AppendTaskRow(int icon, const QString& time, const QString& event, const QString& status) {
    auto* row = new QTreeWidgetItem(taskList_, {QString(), time, event, status});
    if (icon >= IconStarted && icon <= IconFailure) {
        row->setIcon(ColIcon, taskIcons_[static_cast<std::size_t>(icon)]);
    }
    row->setData(ColIcon, kTaskIconRole, icon);
    Describe(row);
    taskList_->scrollToItem(row);
    const int index = taskList_->indexOfTopLevelItem(row);
    TellRowAdded(taskList_, index);
    Announce(taskList_, row->data(ColEvent, Qt::AccessibleDescriptionRole).toString());
}

void WizardWindow::SetNewestTaskStatus(const QString& status) {
    SetNewestStatus(status);
}

void WizardWindow::SetNewestTaskProgress(const TransferProgress& progress) {
    SetNewestStatus(progress.PercentText(), progress.Percent(), progress.RateText(timeLeftFormat_));
}

void WizardWindow::ShowNewestTaskLive(const QString& shown) {
    SetNewestStatus(shown);
}

void WizardWindow::SetNewestStatus(const QString& status, std::optional<int> percent, const QString& rate) {
    const int count = taskList_->topLevelItemCount();
    if (count == 0) {
        return;
    }
    QTreeWidgetItem* row = taskList_->topLevelItem(count - 1);
    row->setText(ColStatus, status);
    row->setData(ColStatus, TaskRowDelegate::kPercentRole, percent ? QVariant(*percent) : QVariant());
    row->setData(ColStatus, TaskRowDelegate::kRateRole, rate);
    Describe(row);
    ShowProgress(row, percent, rate);
}

void WizardWindow::ShowProgress(QTreeWidgetItem* row, std::optional<int> percent, const QString& rate) {
    if (!percent) {
        progress_->hide();
        return;
    }
    // Over the bar the row paints, where a magnifier or a pointer finds it.
    const QRect cell = taskList_->visualItemRect(row);
    const QHeaderView* header = taskList_->header();
    const QRect bar(header->sectionViewportPosition(ColStatus), cell.top(), header->sectionSize(ColStatus),
                    cell.height());
    progress_->setGeometry(QRect(taskList_->viewport()->mapTo(this, bar.topLeft()), bar.size()));
    progress_->setAccessibleName(row->text(ColEvent));
    progress_->setAccessibleDescription(rate);
    progress_->setValue(qBound(0, *percent, 100));
    progress_->setVisible(taskList_->isVisible());
    progress_->raise();
}

void WizardWindow::SetAccessibleTexts(const TextDatabase& texts) {
    if (const QString name = texts.GetText(Txt::TaskListName); !name.isEmpty())
        taskList_->setAccessibleName(name);
    // An older text database without them keeps the English words.
    const std::array ids{Txt::IconStarted, Txt::IconInformation, Txt::IconFailed};
    for (std::size_t icon = 0; icon < ids.size(); ++icon)
        iconWords_[icon] = texts.Localised(ids[icon], QString::fromLatin1(kEnglishIconWords[icon]));
    // The rows of loading came before the texts.
    for (int row = 0; row < taskList_->topLevelItemCount(); ++row)
        Describe(taskList_->topLevelItem(row));
}

void WizardWindow::ClearTaskRows() {
    taskList_->clear();
    progress_->hide();
}

void WizardWindow::SetButtonCaption(WizardButton button, const QString& caption) {
    captions_[static_cast<std::size_t>(button)] = caption;
    UpdateMnemonics();
}

void WizardWindow::UpdateMnemonics() {
    // Each button underlines the first letter of its caption that no button before it has taken.
    QString taken;
    for (const WizardButton button : {WizardButton::Next, WizardButton::Back, WizardButton::Close,
                                      WizardButton::Print, WizardButton::Again}) {
        QString caption = captions_[static_cast<std::size_t>(button)];
        caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
        for (qsizetype i = 0; i < caption.size(); ++i) {
            const QChar letter = caption[i].toLower();
            if (letter.isLetterOrNumber() && !taken.contains(letter)) {
                taken += letter;
                caption.insert(i, QLatin1Char('&'));
                break;
            }
        }
        Button(button)->setText(caption);
    }
}

void WizardWindow::SetButtonEnabled(WizardButton button, bool enabled) {
    QPushButton* b = Button(button);
    // Qt would pass the focus of a greyed button on along the row, to Close, where a stray Enter or Space
    // would stop an upload: the window holds it until Next, its home, is enabled again.
    if (!enabled && focusWidget() == b)  // also while the window is not active
        setFocus(Qt::OtherFocusReason);
    b->setEnabled(enabled);
    if (enabled && b == nextButton_ && focusWidget() == this)
        nextButton_->setFocus(Qt::OtherFocusReason);
}

void WizardWindow::SetButtonVisible(WizardButton button, bool visible) {
    Button(button)->setVisible(visible);
}

BoxAnswer WizardWindow::ShowMessageBox(const QString& text, const QString& title, BoxStyle style) {
    const MessageBoxSetup setup = MessageBoxSetupFor(style);
    QMessageBox box(setup.icon, title, WithLineBreaks(text), setup.buttons, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(setup.defaultButton);
    if (setup.escapeButton == QMessageBox::NoButton) {
        // Qt would take No or Cancel for Escape: an unseen button takes Escape and closing instead.
        QPushButton* none = box.addButton(QString(), QMessageBox::RejectRole);
        none->hide();
        box.setEscapeButton(none);
    } else {
        box.setEscapeButton(setup.escapeButton);
    }
    box.exec();
    return MessageBoxAnswerFor(box.standardButton(box.clickedButton()), setup);
}

std::optional<QString> WizardWindow::ChooseFirmwareFile(const FirmwareFileChoice& choice) {
    while (true) {
        QMessageBox box(QMessageBox::Information, choice.title, WithLineBreaks(choice.text),
                        QMessageBox::Cancel, this);
        box.setTextFormat(Qt::PlainText);
        QPushButton* choose = box.addButton(choice.choose, QMessageBox::AcceptRole);
        box.setDefaultButton(choose);
        box.setEscapeButton(QMessageBox::Cancel);
        box.exec();
        if (box.clickedButton() != choose)
            return std::nullopt;
        // The dialog cancelled leads back to the box, where Cancel ends start-up.
        if (const QString path = AskForFirmwareFile(choice); !path.isEmpty())
            return path;
    }
}

QString WizardWindow::AskForFirmwareFile(const FirmwareFileChoice& choice) {
    // Not the application's own settings: naming an organization would move the backup folder.
    QSettings settings(QStringLiteral("kav-update"), QStringLiteral("kav-update"));
    const QString key = QStringLiteral("firmwareFolder");
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    const QString start =
        settings.value(key, QDir(downloads).exists() ? downloads : QDir::homePath()).toString();
    QFileDialog dialog(this, choice.dialogTitle, start, choice.filterName + QStringLiteral(" (*.fwr)"));
    // Qt's own dialog matches the pattern in any case, on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString path = dialog.selectedFiles().constFirst();
    settings.setValue(key, QFileInfo(path).absolutePath());
    return path;
}

std::optional<int> WizardWindow::ChooseCable(const CableChoice& choice) {
    bool ok = false;
    const QString chosen =
        QInputDialog::getItem(this, choice.title, choice.question, choice.cables, 0, false, &ok);
    const qsizetype index = choice.cables.indexOf(chosen);
    return ok && index >= 0 ? std::optional(int(index)) : std::nullopt;
}

void WizardWindow::SetOnTop(bool onTop) {
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) {
        return;
    }
    const Qt::WindowFlags flags = windowFlags().setFlag(Qt::WindowStaysOnTopHint, onTop);
    if (windowHandle() == nullptr) {
        setWindowFlags(flags);
        return;
    }
    // setWindowFlags would hide the window and show it again: a flicker, at Close the last thing seen.
    overrideWindowFlags(flags);
    windowHandle()->setFlags(flags);
}

void WizardWindow::ShowTrayIcon(const QString& caption) {
    trayCaption_ = caption;
    trayWanted_ = true;
    if (isVisible()) {
        ShowTray();
    }
}

void WizardWindow::ShowTray() {
    if (!trayWanted_ || !QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    if (!tray_) {
        tray_ = std::make_unique<QSystemTrayIcon>(windowIcon());
        connect(tray_.get(), &QSystemTrayIcon::activated, this, [this] {
            showNormal();
            raise();
            activateWindow();
        });
    }
    tray_->setToolTip(trayCaption_);
    tray_->show();
}

void WizardWindow::RemoveTrayIcon() {
    trayWanted_ = false;
    if (tray_) {
        tray_->hide();
        tray_.reset();
    }
}

void WizardWindow::keyPressEvent(QKeyEvent* event) {
    QPushButton* target = nullptr;
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            target = nextButton_;
            break;
        case Qt::Key_Escape:
            target = closeButton_;
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    if (target->isVisible() && target->isEnabled()) {
        target->click();
    }
    event->accept();
}

void WizardWindow::closeEvent(QCloseEvent* event) {
    if (!closeAllowed_) {
        event->ignore();
        const std::function<void()> callback = OnClose;
        if (callback) {
            callback();
        }
        // The handler may have ended the wizard; a close() from inside it is swallowed by Qt, so honour it
        // here.
        if (!closeAllowed_) {
            return;
        }
    }
    event->accept();
}

std::optional<QString> WizardWindow::FileIn(const QDropEvent& event) const {
    if (!DroppableFile || !event.mimeData()->hasUrls())
        return std::nullopt;
    return DroppableFile(event.mimeData()->urls());
}

// Refused, the drag shows that it cannot drop here.
void WizardWindow::dragEnterEvent(QDragEnterEvent* event) {
    FileIn(*event) ? event->acceptProposedAction() : event->ignore();
}

void WizardWindow::dropEvent(QDropEvent* event) {
    const std::optional<QString> file = FileIn(*event);
    if (!file)
        return event->ignore();
    event->acceptProposedAction();
    // The drag source waits for the drop to end: a box for a damaged file must not hold it up.
    QMetaObject::invokeMethod(
        this,
        [this, path = *file] {
            if (OnFileDropped)
                OnFileDropped(path);
        },
        Qt::QueuedConnection);
}

void WizardWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FitPictureAboveText();
    ShowTray();
}

void WizardWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &p, this);

    // Footer panel behind the buttons, set off by an etched line.
    QLinearGradient footer(0, kFooterTop, 0, height());
    footer.setColorAt(0, QColor(0xdf, 0xe7, 0xf1));
    footer.setColorAt(1, QColor(0xcf, 0xdb, 0xe8));
    p.fillRect(QRect(0, kFooterTop, width(), height() - kFooterTop), footer);
    p.setPen(QColor(0xa9, 0xbb, 0xcf));
    p.drawLine(0, kFooterTop, width(), kFooterTop);
    p.setPen(QColor(0xf7, 0xfa, 0xfd));
    p.drawLine(0, kFooterTop + 1, width(), kFooterTop + 1);
}
