#include "wizard/front/mfu_main.h"

#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyleOption>
#include <QSystemTrayIcon>
#include <QTreeWidget>
#include <QWindow>

#include "wizard/front/artwork.h"
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

QRect FromTwips(int left, int top, int width, int height) {
    constexpr int k = MFUMain::kTwipsPerPixel;
    return {left / k, top / k, width / k, height / k};
}

enum TaskColumn : int { ColIcon = 0, ColTime = 1, ColEvent = 2, ColStatus = 3 };

// The page-2 text opens with this many empty lines to make room for the picture above it.
constexpr int kLinesAbovePageText = 10;

}  // namespace

MessageBoxSetup MessageBoxSetupFor(int style) {
    MessageBoxSetup setup;
    switch (style & 0x0F) {
        case 1:
            setup.buttons = QMessageBox::Ok | QMessageBox::Cancel;
            setup.defaultButton = QMessageBox::Ok;
            setup.escapeButton = QMessageBox::NoButton;
            break;
        case 3:
            setup.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            setup.defaultButton = QMessageBox::Yes;
            setup.escapeButton = QMessageBox::Cancel;
            break;
        case 4:
            setup.buttons = QMessageBox::Yes | QMessageBox::No;
            setup.defaultButton = QMessageBox::Yes;
            setup.escapeButton = QMessageBox::NoButton;
            break;
        default:
            setup.buttons = QMessageBox::Ok;
            setup.defaultButton = QMessageBox::Ok;
            setup.escapeButton = QMessageBox::Ok;
            break;
    }
    if ((style & 0x100) != 0 && setup.buttons != QMessageBox::Ok) {
        setup.defaultButton =
            setup.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::No : QMessageBox::Cancel;
    }
    switch (style & 0xF0) {
        case 0x10:
            setup.icon = QMessageBox::Critical;
            break;
        case 0x20:
            setup.icon = QMessageBox::Question;
            break;
        case 0x30:
            setup.icon = QMessageBox::Warning;
            break;
        case 0x40:
            setup.icon = QMessageBox::Information;
            break;
        default:
            setup.icon = QMessageBox::NoIcon;
            break;
    }
    return setup;
}

int MessageBoxAnswerFor(QMessageBox::StandardButton pressed, const MessageBoxSetup& setup) {
    if (pressed == QMessageBox::NoButton || !setup.buttons.testFlag(pressed)) {
        pressed = setup.escapeButton;
    }
    switch (pressed) {
        case QMessageBox::NoButton:
            return IdNoAnswer;
        case QMessageBox::Cancel:
            return IdCancel;
        case QMessageBox::Yes:
            return IdYes;
        case QMessageBox::No:
            return IdNo;
        default:
            return IdOk;
    }
}

QString WithLineBreaks(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

MFUMain::MFUMain(QWidget* parent) : QWidget(parent) {
    RegisterWizardResources();
    setObjectName(QStringLiteral("MFUMain"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    setWindowIcon(artwork::WindowIcon());
    const QString designCaption = QStringLiteral("KAV 1F Firmware Update");
    setWindowTitle(designCaption);

    QFile styleSheet(QStringLiteral(":/kav/wizard.qss"));
    if (styleSheet.open(QIODevice::ReadOnly)) {
        setStyleSheet(QString::fromUtf8(styleSheet.readAll()));
    }

    for (int icon = IconStarted; icon <= IconFailure; ++icon) {
        taskIcons_[static_cast<std::size_t>(icon)] = artwork::TaskIcon(icon);
    }

    xpForm_ = new TitleBand(this);
    xpForm_->setObjectName(QStringLiteral("XPForm"));
    xpForm_->setGeometry(FromTwips(0, 0, 10185, 450));
    xpForm_->setContentsMargins(8, 0, 8, 0);
    xpForm_->SetText(designCaption);

    image1_ = new ArtworkView(artwork::PaintSideBanner, this);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setGeometry(FromTwips(0, 480, 2115, 5370));

    // The list lies under the frame: created first, so the frame stacks above it.
    taskLst_ = new QTreeWidget(this);
    taskLst_->setObjectName(QStringLiteral("TaskLst"));
    taskLst_->setGeometry(FromTwips(2160, 480, 7935, 5415));
    taskLst_->setColumnCount(4);
    taskLst_->setHeaderLabels(
        {QString(), QStringLiteral("Time"), QStringLiteral("Event"), QStringLiteral("Status")});
    taskLst_->setRootIsDecorated(false);
    taskLst_->setItemsExpandable(false);
    taskLst_->setUniformRowHeights(true);
    taskLst_->setAlternatingRowColors(true);
    taskLst_->setSelectionMode(QAbstractItemView::NoSelection);
    taskLst_->setFocusPolicy(Qt::NoFocus);
    taskLst_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    taskLst_->setIconSize(QSize(16, 16));
    taskLst_->setItemDelegate(new TaskRowDelegate(ColIcon, ColEvent, ColStatus, taskLst_));
    taskLst_->setAccessibleName(QStringLiteral("Steps of the update"));
    QHeaderView* header = taskLst_->header();
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
    taskLst_->hide();

    xpFrame_ = new CaptionFrame(this);
    xpFrame_->setObjectName(QStringLiteral("XPFrame"));
    xpFrame_->setGeometry(FromTwips(2160, 480, 7935, 5415));

    lbl1_ = new QLabel(xpFrame_);
    lbl1_->setObjectName(QStringLiteral("Lbl1"));
    lbl1_->setGeometry(FromTwips(120, 240, 7695, 5055));
    lbl1_->setTextFormat(Qt::PlainText);
    lbl1_->setWordWrap(true);
    lbl1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbl1_->setAccessibleName(QStringLiteral("Instructions"));

    image2_ = new ArtworkView(artwork::PaintDiveComputer, xpFrame_);
    image2_->setObjectName(QStringLiteral("Image2"));
    image2_->setGeometry(FromTwips(840, 240, 5835, 2610));
    image2_->hide();

    printCmd_ =
        MakeButton("PrintCmd", QStringLiteral("Print"), FromTwips(240, 6360, 1095, 375), &MFUMain::OnPrint);
    backCmd_ =
        MakeButton("BackCmd", QStringLiteral("Back"), FromTwips(4200, 6360, 1455, 375), &MFUMain::OnBack);
    nextCmd_ =
        MakeButton("NextCmd", QStringLiteral("Next"), FromTwips(6000, 6360, 1455, 375), &MFUMain::OnNext);
    closeCmd_ =
        MakeButton("CloseCmd", QStringLiteral("Close"), FromTwips(8640, 6360, 1455, 375), &MFUMain::OnClose);
    backCmd_->setEnabled(false);
    // Enter is Next unless another button has the focus; Escape is Close.
    nextCmd_->setDefault(true);
    captions_ = {nextCmd_->text(), backCmd_->text(), closeCmd_->text(), printCmd_->text()};
    UpdateMnemonics();
    setTabOrder(printCmd_, backCmd_);
    setTabOrder(backCmd_, nextCmd_);
    setTabOrder(nextCmd_, closeCmd_);
    nextCmd_->setFocus();
}

MFUMain::~MFUMain() {
    RemoveTrayIcon();
}

QPushButton* MFUMain::MakeButton(const char* name, const QString& caption, const QRect& geometry,
                                 std::function<void()> MFUMain::*handler) {
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

QPushButton* MFUMain::Button(WizardButton button) const {
    switch (button) {
        case WizardButton::Next:
            return nextCmd_;
        case WizardButton::Back:
            return backCmd_;
        case WizardButton::Close:
            return closeCmd_;
        case WizardButton::Print:
            return printCmd_;
    }
    return nextCmd_;
}

void MFUMain::SetWindowCaption(const QString& caption) {
    setWindowTitle(caption);
    xpForm_->SetText(caption);
}

void MFUMain::SetFrameCaption(const QString& caption) {
    xpFrame_->SetCaption(caption);
    lbl1_->setAccessibleName(caption);
}

void MFUMain::SetFrameVisible(bool visible) {
    xpFrame_->setVisible(visible);
}

void MFUMain::SetInstructionText(const QString& text) {
    lbl1_->setText(WithLineBreaks(text));
    lbl1_->setAccessibleDescription(lbl1_->text().trimmed());
}

void MFUMain::SetPictureVisible(bool visible) {
    if (visible) {
        FitPictureAboveText();
    }
    image2_->setVisible(visible);
}

void MFUMain::FitPictureAboveText() {
    // The empty lines at the head of the page make room for the picture; the drawing shrinks to fit that room
    // in whatever font the label ends up with.
    lbl1_->ensurePolished();
    const int textTop = lbl1_->y() + lbl1_->contentsRect().top() + lbl1_->margin() +
                        kLinesAbovePageText * lbl1_->fontMetrics().lineSpacing();
    const int room = qBound(40, textTop - image2_->y() - 4, image2_->height());
    image2_->SetArtRect(QRect(0, 0, image2_->width(), room));
}

void MFUMain::SetTaskListVisible(bool visible) {
    taskLst_->setVisible(visible);
}

void MFUMain::SetColumnHeaders(const QString& time, const QString& event, const QString& status) {
    taskLst_->setHeaderLabels({QString(), time, event, status});
}

namespace {

// The row's whole text, for its tooltip and for assistive technology: the cells may show it cut.
void Describe(QTreeWidgetItem* row) {
    const QString event = row->text(ColEvent);
    const QString status = row->text(ColStatus);
    const QString full = status.isEmpty() ? event : event + QStringLiteral(" : ") + status;
    for (int column = ColIcon; column <= ColStatus; ++column) {
        row->setToolTip(column, full);
        row->setData(column, Qt::AccessibleDescriptionRole, full);
    }
}

}  // namespace

void MFUMain::AppendTaskRow(int icon, const QString& time, const QString& event, const QString& status) {
    auto* row = new QTreeWidgetItem(taskLst_, {QString(), time, event, status});
    if (icon >= IconStarted && icon <= IconFailure) {
        row->setIcon(ColIcon, taskIcons_[static_cast<std::size_t>(icon)]);
    }
    row->setData(ColIcon, kTaskIconRole, icon);
    Describe(row);
    taskLst_->scrollToItem(row);
}

void MFUMain::SetNewestTaskStatus(const QString& status) {
    SetNewestTaskProgress(status, status);
}

void MFUMain::SetNewestTaskProgress(const QString&, const QString& shown) {
    const int count = taskLst_->topLevelItemCount();
    if (count == 0) {
        return;
    }
    QTreeWidgetItem* row = taskLst_->topLevelItem(count - 1);
    row->setText(ColStatus, shown);
    Describe(row);
}

void MFUMain::SetTaskListName(const QString& name) {
    if (!name.isEmpty()) {
        taskLst_->setAccessibleName(name);
    }
}

void MFUMain::ClearTaskRows() {
    taskLst_->clear();
}

void MFUMain::SetButtonCaption(WizardButton button, const QString& caption) {
    captions_[static_cast<std::size_t>(button)] = caption;
    UpdateMnemonics();
}

void MFUMain::UpdateMnemonics() {
    // Each button underlines the first letter of its caption that no button before it has taken.
    QString taken;
    for (const WizardButton button :
         {WizardButton::Next, WizardButton::Back, WizardButton::Close, WizardButton::Print}) {
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

void MFUMain::SetButtonEnabled(WizardButton button, bool enabled) {
    QPushButton* b = Button(button);
    // Qt would pass the focus of a greyed button on along the row, to Close, where a stray Enter or Space
    // would stop an upload: the window holds it until Next, its home, is enabled again.
    if (!enabled && focusWidget() == b)  // also while the window is not active
        setFocus(Qt::OtherFocusReason);
    b->setEnabled(enabled);
    if (enabled && b == nextCmd_ && focusWidget() == this)
        nextCmd_->setFocus(Qt::OtherFocusReason);
}

void MFUMain::SetButtonVisible(WizardButton button, bool visible) {
    Button(button)->setVisible(visible);
}

int MFUMain::ShowMessageBox(const QString& text, const QString& title, int style) {
    if (BoxAnswerer) {
        return BoxAnswerer(text, title, style);
    }
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

void MFUMain::SetOnTop(bool onTop) {
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

void MFUMain::ShowTrayIcon(const QString& caption) {
    trayCaption_ = caption;
    trayWanted_ = true;
    if (isVisible()) {
        ShowTray();
    }
}

void MFUMain::ShowTray() {
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

void MFUMain::RemoveTrayIcon() {
    trayWanted_ = false;
    if (tray_) {
        tray_->hide();
        tray_.reset();
    }
}

void MFUMain::keyPressEvent(QKeyEvent* event) {
    QPushButton* target = nullptr;
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            target = nextCmd_;
            break;
        case Qt::Key_Escape:
            target = closeCmd_;
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

void MFUMain::closeEvent(QCloseEvent* event) {
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

void MFUMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FitPictureAboveText();
    ShowTray();
}

void MFUMain::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &p, this);

    // Footer panel behind the buttons, set off by an etched line.
    const int footerTop = 404;
    QLinearGradient footer(0, footerTop, 0, height());
    footer.setColorAt(0, QColor(0xdf, 0xe7, 0xf1));
    footer.setColorAt(1, QColor(0xcf, 0xdb, 0xe8));
    p.fillRect(QRect(0, footerTop, width(), height() - footerTop), footer);
    p.setPen(QColor(0xa9, 0xbb, 0xcf));
    p.drawLine(0, footerTop, width(), footerTop);
    p.setPen(QColor(0xf7, 0xfa, 0xfd));
    p.drawLine(0, footerTop + 1, width(), footerTop + 1);
}
