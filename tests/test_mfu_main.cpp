#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "wizard/front/artwork.h"
#include "wizard/front/mfu_main.h"
#include "wizard/front/skin_widgets.h"
#include "wizard/front/task_row_delegate.h"
#include "wizard/instruction_pages.h"

Q_DECLARE_METATYPE(WizardButton)
Q_DECLARE_METATYPE(QMessageBox::Icon)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)
Q_DECLARE_METATYPE(QMessageBox::StandardButtons)

namespace {

template <typename T = QWidget>
T* Child(const MFUMain& w, const char* name) {
    return w.findChild<T*>(QLatin1String(name));
}

QTreeWidget* List(const MFUMain& w) {
    return Child<QTreeWidget>(w, "TaskLst");
}

// Pixels in r that are clearly green (the progress bar's fill).
int GreenPixels(const QImage& image, const QRect& r) {
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > c.red() + 40 && c.green() > c.blue() + 20) {
                ++count;
            }
        }
    }
    return count;
}

}  // namespace

class TestMfuMain : public QObject {
    Q_OBJECT

private slots:
    void boxStyle_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QMessageBox::StandardButtons>("buttons");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::addColumn<QMessageBox::StandardButton>("escape");
        QTest::newRow("16 ok critical") << 16 << QMessageBox::StandardButtons(QMessageBox::Ok)
                                        << QMessageBox::Critical << QMessageBox::Ok;
        QTest::newRow("17 ok/cancel critical")
            << 17 << (QMessageBox::Ok | QMessageBox::Cancel) << QMessageBox::Critical << QMessageBox::Cancel;
        QTest::newRow("48 ok exclamation")
            << 48 << QMessageBox::StandardButtons(QMessageBox::Ok) << QMessageBox::Warning << QMessageBox::Ok;
        QTest::newRow("52 yes/no exclamation")
            << 52 << (QMessageBox::Yes | QMessageBox::No) << QMessageBox::Warning << QMessageBox::No;
        QTest::newRow("65 ok/cancel information") << 65 << (QMessageBox::Ok | QMessageBox::Cancel)
                                                  << QMessageBox::Information << QMessageBox::Cancel;
    }
    void boxStyle() {
        QFETCH(int, style);
        QFETCH(QMessageBox::StandardButtons, buttons);
        QFETCH(QMessageBox::Icon, icon);
        QFETCH(QMessageBox::StandardButton, escape);
        const MessageBoxSetup setup = MessageBoxSetupFor(style);
        QCOMPARE(setup.buttons, buttons);
        QCOMPARE(setup.icon, icon);
        QCOMPARE(setup.escapeButton, escape);
        QVERIFY(buttons.testFlag(setup.defaultButton));
    }

    void boxAnswer_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QMessageBox::StandardButton>("pressed");
        QTest::addColumn<int>("answer");
        QTest::newRow("ok") << 16 << QMessageBox::Ok << 1;
        QTest::newRow("ok of ok/cancel") << 17 << QMessageBox::Ok << 1;
        QTest::newRow("cancel") << 17 << QMessageBox::Cancel << 2;
        QTest::newRow("yes") << 52 << QMessageBox::Yes << 6;
        QTest::newRow("no") << 52 << QMessageBox::No << 7;
        QTest::newRow("closed ok box") << 48 << QMessageBox::NoButton << 1;
        QTest::newRow("closed ok/cancel box") << 65 << QMessageBox::NoButton << 2;
        QTest::newRow("closed yes/no box") << 52 << QMessageBox::NoButton << 7;
    }
    void boxAnswer() {
        QFETCH(int, style);
        QFETCH(QMessageBox::StandardButton, pressed);
        QFETCH(int, answer);
        QCOMPARE(MessageBoxAnswerFor(pressed, MessageBoxSetupFor(style)), answer);
    }

    // A real box, answered from the keyboard.
    void realBox_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("answer");
        QTest::newRow("16 escape") << 16 << int(Qt::Key_Escape) << 1;
        QTest::newRow("17 escape") << 17 << int(Qt::Key_Escape) << 2;
        QTest::newRow("17 enter") << 17 << int(Qt::Key_Return) << 1;
        QTest::newRow("52 escape") << 52 << int(Qt::Key_Escape) << 7;
        QTest::newRow("52 enter") << 52 << int(Qt::Key_Return) << 6;
        QTest::newRow("65 escape") << 65 << int(Qt::Key_Escape) << 2;
    }
    void realBox() {
        QFETCH(int, style);
        QFETCH(int, key);
        QFETCH(int, answer);
        MFUMain w;
        QString shownText;
        QString shownTitle;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            poll.stop();
            shownText = box->text();
            shownTitle = box->windowTitle();
            QTest::keyClick(box, static_cast<Qt::Key>(key));
        });
        poll.start();
        QCOMPARE(w.ShowMessageBox(QStringLiteral("First line\r\nSecond line"),
                                  QStringLiteral("Firmware Update"), style),
                 answer);
        QCOMPARE(shownText, QStringLiteral("First line\nSecond line"));
        QCOMPARE(shownTitle, QStringLiteral("Firmware Update"));
    }

    void boxAnswererReplacesBox() {
        MFUMain w;
        QString seenText;
        int seenStyle = 0;
        w.BoxAnswerer = [&](const QString& text, const QString&, int style) {
            seenText = text;
            seenStyle = style;
            return 7;
        };
        QCOMPARE(w.ShowMessageBox(QStringLiteral("Restore?"), QStringLiteral("Firmware Update"), 52), 7);
        QCOMPARE(seenText, QStringLiteral("Restore?"));
        QCOMPARE(seenStyle, 52);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    // Positions in twips, as designed; the window shows 15 twips to a pixel.
    void controlGeometry_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QRect>("twips");
        QTest::newRow("XPForm") << "XPForm"
                                << "MFUMain" << QRect(0, 0, 10185, 450);
        QTest::newRow("Image1") << "Image1"
                                << "MFUMain" << QRect(0, 480, 2115, 5370);
        QTest::newRow("XPFrame") << "XPFrame"
                                 << "MFUMain" << QRect(2160, 480, 7935, 5415);
        QTest::newRow("Lbl1") << "Lbl1"
                              << "XPFrame" << QRect(120, 240, 7695, 5055);
        QTest::newRow("Image2") << "Image2"
                                << "XPFrame" << QRect(840, 240, 5835, 2610);
        QTest::newRow("TaskLst") << "TaskLst"
                                 << "MFUMain" << QRect(2160, 480, 7935, 5415);
        QTest::newRow("PrintCmd") << "PrintCmd"
                                  << "MFUMain" << QRect(240, 6360, 1095, 375);
        QTest::newRow("BackCmd") << "BackCmd"
                                 << "MFUMain" << QRect(4200, 6360, 1455, 375);
        QTest::newRow("NextCmd") << "NextCmd"
                                 << "MFUMain" << QRect(6000, 6360, 1455, 375);
        QTest::newRow("CloseCmd") << "CloseCmd"
                                  << "MFUMain" << QRect(8640, 6360, 1455, 375);
    }
    void controlGeometry() {
        QFETCH(QString, name);
        QFETCH(QString, parentName);
        QFETCH(QRect, twips);
        MFUMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* control = w.findChild<QWidget*>(name);
        QVERIFY(control != nullptr);
        QCOMPARE(control->parentWidget()->objectName(), parentName);
        QCOMPARE(control->geometry(),
                 QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    }

    void windowIsFixedSize() {
        MFUMain w;
        QCOMPARE(w.size(), QSize(10185 / 15, 6840 / 15));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(w.findChild<QWidget*>(QStringLiteral("AgreeCmd")) == nullptr);
        QVERIFY(w.findChild<QWidget*>(QStringLiteral("DisagreeCmd")) == nullptr);
        QVERIFY(!w.windowIcon().isNull());
    }

    void designTimeState() {
        MFUMain w;
        QCOMPARE(w.windowTitle(), QStringLiteral("KAV 1F Firmware Update"));
        QCOMPARE(Child<TitleBand>(w, "XPForm")->Text(), QStringLiteral("KAV 1F Firmware Update"));
        QVERIFY(Child(w, "TaskLst")->isHidden());
        QVERIFY(!Child(w, "XPFrame")->isHidden());
        QVERIFY(Child(w, "Image2")->isHidden());
        QVERIFY(!Child(w, "BackCmd")->isEnabled());
        QVERIFY(Child(w, "NextCmd")->isEnabled());
        QCOMPARE(Child<QPushButton>(w, "PrintCmd")->text(), QStringLiteral("Print"));
        QCOMPARE(Child<QPushButton>(w, "CloseCmd")->text(), QStringLiteral("Close"));
        const QTreeWidgetItem* header = List(w)->headerItem();
        QCOMPARE(header->text(0), QString());
        QCOMPARE(header->text(1), QStringLiteral("Time"));
        QCOMPARE(header->text(2), QStringLiteral("Event"));
        QCOMPARE(header->text(3), QStringLiteral("Status"));
    }

    void buttons_data() {
        QTest::addColumn<WizardButton>("button");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("callback");  // 0 next, 1 back, 2 close, 3 print
        QTest::newRow("next") << WizardButton::Next << "NextCmd" << 0;
        QTest::newRow("back") << WizardButton::Back << "BackCmd" << 1;
        QTest::newRow("close") << WizardButton::Close << "CloseCmd" << 2;
        QTest::newRow("print") << WizardButton::Print << "PrintCmd" << 3;
    }
    void buttons() {
        QFETCH(WizardButton, button);
        QFETCH(QString, name);
        QFETCH(int, callback);
        MFUMain w;
        std::array<int, 4> calls{};
        w.OnNext = [&] { ++calls[0]; };
        w.OnBack = [&] { ++calls[1]; };
        w.OnClose = [&] { ++calls[2]; };
        w.OnPrint = [&] { ++calls[3]; };
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* pushButton = w.findChild<QPushButton*>(name);
        QVERIFY(pushButton != nullptr);

        w.SetButtonCaption(button, QStringLiteral("&Weiter >"));
        QCOMPARE(pushButton->text(), QStringLiteral("&Weiter >"));
        w.SetButtonEnabled(button, true);
        w.SetButtonVisible(button, true);
        QTest::mouseClick(pushButton, Qt::LeftButton);
        std::array<int, 4> expected{};
        expected[static_cast<std::size_t>(callback)] = 1;
        QCOMPARE(calls, expected);

        w.SetButtonEnabled(button, false);
        QVERIFY(!pushButton->isEnabled());
        QTest::mouseClick(pushButton, Qt::LeftButton);
        QCOMPARE(calls, expected);

        w.SetButtonVisible(button, false);
        QVERIFY(!pushButton->isVisible());
        w.SetButtonVisible(button, true);
        QVERIFY(pushButton->isVisible());
    }

    void rowsAppendReplaceClear() {
        MFUMain w;
        w.AppendTaskRow(IconInformation, QStringLiteral("09:05:07"), QStringLiteral("Firmware file checked"),
                        QStringLiteral("OK"));
        w.AppendTaskRow(IconFailure, QStringLiteral("09:05:09"), QStringLiteral("Wrong model"),
                        QStringLiteral("Error"));
        w.AppendTaskRow(IconStarted, QStringLiteral("09:05:12"), QStringLiteral("Upload"),
                        QStringLiteral("..."));
        QTreeWidget* list = List(w);
        QCOMPARE(list->topLevelItemCount(), 3);
        const QTreeWidgetItem* first = list->topLevelItem(0);
        QCOMPARE(first->text(1), QStringLiteral("09:05:07"));
        QCOMPARE(first->text(2), QStringLiteral("Firmware file checked"));
        QCOMPARE(first->text(3), QStringLiteral("OK"));
        QCOMPARE(first->data(0, MFUMain::kTaskIconRole).toInt(), int(IconInformation));
        QCOMPARE(list->topLevelItem(1)->data(0, MFUMain::kTaskIconRole).toInt(), int(IconFailure));
        QVERIFY(!list->topLevelItem(2)->icon(0).isNull());

        for (const char* figure : {"10%", "20%", "100%"}) {
            w.SetNewestTaskStatus(QLatin1String(figure));
        }
        QCOMPARE(list->topLevelItemCount(), 3);
        const QTreeWidgetItem* newest = list->topLevelItem(2);
        QCOMPARE(newest->text(3), QStringLiteral("100%"));
        QCOMPARE(newest->text(2), QStringLiteral("Upload"));
        QCOMPARE(newest->text(1), QStringLiteral("09:05:12"));
        QCOMPARE(newest->data(0, MFUMain::kTaskIconRole).toInt(), int(IconStarted));
        QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("OK"));
        QCOMPARE(list->topLevelItem(1)->text(3), QStringLiteral("Error"));

        w.ClearTaskRows();
        QCOMPARE(list->topLevelItemCount(), 0);
        w.SetNewestTaskStatus(QStringLiteral("Done"));  // nothing to change, must not add a row
        QCOMPARE(list->topLevelItemCount(), 0);
    }

    void appendScrollsToNewest() {
        MFUMain w;
        w.SetFrameVisible(false);
        w.SetTaskListVisible(true);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (int row = 0; row < 60; ++row) {
            w.AppendTaskRow(IconInformation, QStringLiteral("10:00:00"), QStringLiteral("Step %1").arg(row),
                            QStringLiteral("OK"));
        }
        QTreeWidget* list = List(w);
        const QRect viewport = list->viewport()->rect();
        QVERIFY(viewport.contains(list->visualItemRect(list->topLevelItem(59))));
        QVERIFY(!viewport.intersects(list->visualItemRect(list->topLevelItem(0))));
    }

    void columns() {
        MFUMain w;
        w.SetTaskListVisible(true);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.SetColumnHeaders(QStringLiteral("Zeit"), QStringLiteral("Ereignis"), QStringLiteral("Status"));
        QTreeWidget* list = List(w);
        QCOMPARE(list->headerItem()->text(0), QString());
        QCOMPARE(list->headerItem()->text(1), QStringLiteral("Zeit"));
        QCOMPARE(list->headerItem()->text(2), QStringLiteral("Ereignis"));
        QCOMPARE(list->headerItem()->text(3), QStringLiteral("Status"));
        const QHeaderView* header = list->header();
        QCOMPARE(header->sectionSize(0), 32);
        QVERIFY(header->length() <= list->viewport()->width());
        QVERIFY(header->sectionSize(2) > header->sectionSize(1) + header->sectionSize(3));
    }

    void percent_data() {
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("value");  // -1: no progress bar
        QTest::newRow("12%") << "12%" << 12;
        QTest::newRow("100%") << "100%" << 100;
        QTest::newRow("0%") << "0%" << 0;
        QTest::newRow("spaced") << " 7 %" << 7;
        QTest::newRow("over 100 clamps") << "150%" << 100;
        QTest::newRow("dots") << "..." << -1;
        QTest::newRow("bare number") << "12" << -1;
        QTest::newRow("bare sign") << "%" << -1;
        QTest::newRow("word") << "abc%" << -1;
        QTest::newRow("negative") << "-5%" << -1;
        QTest::newRow("fraction") << "1.5%" << -1;
        QTest::newRow("trailing words") << "12% done" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void percent() {
        QFETCH(QString, status);
        QFETCH(int, value);
        QCOMPARE(ProgressPercent(status).value_or(-1), value);
    }

    // The status cell of a percentage row shows a filled bar; a word status does not.
    void progressBarIsDrawn() {
        MFUMain w;
        w.SetFrameVisible(false);
        w.SetTaskListVisible(true);
        w.AppendTaskRow(IconInformation, QStringLiteral("10:00:00"), QStringLiteral("Checked"),
                        QStringLiteral("OK"));
        w.AppendTaskRow(IconStarted, QStringLiteral("10:00:01"), QStringLiteral("Upload"),
                        QStringLiteral("..."));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTreeWidget* list = List(w);
        const QRect wordCell = list->visualItemRect(list->topLevelItem(0))
                                   .intersected(QRect(list->header()->sectionViewportPosition(3), 0,
                                                      list->header()->sectionSize(3), 10000));
        const QRect barCell = wordCell.translated(0, wordCell.height());
        QCOMPARE(GreenPixels(list->viewport()->grab().toImage(), barCell), 0);
        w.SetNewestTaskStatus(QStringLiteral("80%"));
        const QImage shot = list->viewport()->grab().toImage();
        QVERIFY(GreenPixels(shot, barCell) > barCell.width() * 4);
        QCOMPARE(GreenPixels(shot, wordCell), 0);
    }

    void instructionLineBreaks() {
        MFUMain w;
        w.SetInstructionText(QStringLiteral("1. Plug in.\r\n\r\n2. Clip on.\r\n   a) again"));
        auto* label = Child<QLabel>(w, "Lbl1");
        QCOMPARE(label->text(), QStringLiteral("1. Plug in.\n\n2. Clip on.\n   a) again"));
        QVERIFY(label->wordWrap());
        QCOMPARE(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
        QCOMPARE(label->textFormat(), Qt::PlainText);
    }

    // Page 2 opens with ten empty lines so that its text begins below the picture.
    void pictureLeavesRoomForText() {
        MFUMain w;
        w.SetInstructionText(InstructionPageText(2));
        w.SetPictureVisible(true);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* label = Child<QLabel>(w, "Lbl1");
        auto* picture = Child<ArtworkView>(w, "Image2");
        QVERIFY(picture->isVisible());
        const QImage text = label->grab().toImage();
        int firstInk = -1;
        for (int y = 0; y < text.height() && firstInk < 0; ++y) {
            for (int x = 0; x < text.width(); ++x) {
                const QRgb px = text.pixel(x, y);
                if (qAlpha(px) > 128 && qGray(px) < 110) {
                    firstInk = y;
                    break;
                }
            }
        }
        QVERIFY(firstInk > 0);
        QVERIFY(picture->ArtRect().height() >= 120);
        QVERIFY(picture->y() + picture->ArtRect().bottom() < label->y() + firstInk);
    }

    // Neither page may lose its last lines at the bottom of the label.
    void pagesFitInLabel_data() {
        QTest::addColumn<int>("page");
        QTest::newRow("connection page") << 1;
        QTest::newRow("deep sleep page") << 2;
    }
    void pagesFitInLabel() {
        QFETCH(int, page);
        MFUMain w;
        w.SetInstructionText(InstructionPageText(page));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* label = Child<QLabel>(w, "Lbl1");
        QVERIFY(label->heightForWidth(label->width()) <= label->height());
    }

    void captions() {
        MFUMain w;
        w.SetWindowCaption(QStringLiteral("KAV 1F Firmware-Update"));
        QCOMPARE(w.windowTitle(), QStringLiteral("KAV 1F Firmware-Update"));
        QCOMPARE(Child<TitleBand>(w, "XPForm")->Text(), QStringLiteral("KAV 1F Firmware-Update"));
        w.SetFrameCaption(QStringLiteral("CONNECT THE DC"));
        QCOMPARE(Child<CaptionFrame>(w, "XPFrame")->Caption(), QStringLiteral("CONNECT THE DC"));
    }

    void closeGoesThroughOnClose() {
        MFUMain w;
        int closes = 0;
        w.OnClose = [&] { ++closes; };
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.close());
        QCOMPARE(closes, 1);
        QVERIFY(w.isVisible());
        w.AllowClose();
        QVERIFY(w.close());
        QCOMPARE(closes, 1);
        QVERIFY(!w.isVisible());
    }

    void closeAllowedByHandler() {
        MFUMain w;
        int closes = 0;
        w.OnClose = [&] {
            ++closes;
            w.AllowClose();
            w.close();
        };
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.close());
        QCOMPARE(closes, 1);
        QVERIFY(!w.isVisible());
    }

    void onTop() {
        MFUMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.SetOnTop(true);
        QVERIFY(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(w.isVisible());
        w.SetOnTop(false);
        QVERIFY(!w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(w.isVisible());
    }

    void taskIconColours_data() {
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("dominant");  // 0 red, 1 green, 2 blue
        QTest::newRow("started blue") << int(IconStarted) << 2;
        QTest::newRow("information green") << int(IconInformation) << 1;
        QTest::newRow("failure red") << int(IconFailure) << 0;
    }
    void taskIconColours() {
        QFETCH(int, icon);
        QFETCH(int, dominant);
        const QImage image = artwork::TaskIcon(icon).pixmap(16, 16).toImage();
        std::array<double, 3> sum{};
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                sum[0] += c.redF() * c.alphaF();
                sum[1] += c.greenF() * c.alphaF();
                sum[2] += c.blueF() * c.alphaF();
            }
        }
        for (int channel = 0; channel < 3; ++channel) {
            if (channel != dominant) {
                QVERIFY(sum[static_cast<std::size_t>(dominant)] >
                        sum[static_cast<std::size_t>(channel)] * 1.2);
            }
        }
    }

    void unknownTaskIconIsBlank() {
        QVERIFY(artwork::TaskIcon(3).isNull());
        QVERIFY(artwork::TaskIcon(-1).isNull());
    }
};

QTEST_MAIN(TestMfuMain)
#include "test_mfu_main.moc"
