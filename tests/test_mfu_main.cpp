// The wizard's window: message boxes, the layout, the buttons' routing, closing, and the task list's rows.
#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "wizard/front/mfu_main.h"
#include "wizard/front/task_row_delegate.h"

using namespace Qt::StringLiterals;

namespace {

template <typename T = QWidget>
T* Child(const MFUMain& w, const char* name) {
    return w.findChild<T*>(QLatin1String(name));
}

QTreeWidget* List(const MFUMain& w) {
    return Child<QTreeWidget>(w, "TaskLst");
}

bool Shown(MFUMain& w) {
    w.show();
    return QTest::qWaitForWindowExposed(&w);
}

// Each row as "icon|time|event|status".
QStringList Rows(const MFUMain& w) {
    QStringList rows;
    for (int i = 0; i < List(w)->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = List(w)->topLevelItem(i);
        rows << item->data(0, MFUMain::kTaskIconRole).toString() + '|' + item->text(1) + '|' + item->text(2) +
                    '|' + item->text(3);
    }
    return rows;
}

// Pixels in r that are clearly green (the progress bar's fill).
int GreenPixels(const QImage& image, const QRect& r) {
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.green() > c.red() + 40 && c.green() > c.blue() + 20;
        }
    }
    return count;
}

}  // namespace

class TestMfuMain : public QObject {
    Q_OBJECT

private slots:
    void boxStyle_data() {
        using B = QMessageBox;
        QTest::addColumn<int>("style");
        QTest::addColumn<B::StandardButtons>("buttons");
        QTest::addColumn<B::Icon>("icon");
        QTest::addColumn<B::StandardButton>("defaultButton");
        QTest::addColumn<B::StandardButton>("escape");
        // Escape and closing a box with a choice choose nothing (NoButton).
        QTest::newRow("16 ok critical") << 16 << B::StandardButtons(B::Ok) << B::Critical << B::Ok << B::Ok;
        QTest::newRow("17 ok/cancel critical")
            << 17 << (B::Ok | B::Cancel) << B::Critical << B::Ok << B::NoButton;
        QTest::newRow("48 ok exclamation") << 48 << B::StandardButtons(B::Ok) << B::Warning << B::Ok << B::Ok;
        QTest::newRow("52 yes/no exclamation")
            << 52 << (B::Yes | B::No) << B::Warning << B::Yes << B::NoButton;
        QTest::newRow("52 + 0x100: No is the default")
            << 52 + 0x100 << (B::Yes | B::No) << B::Warning << B::No << B::NoButton;
        QTest::newRow("65 ok/cancel information")
            << 65 << (B::Ok | B::Cancel) << B::Information << B::Ok << B::NoButton;
    }
    void boxStyle() {
        QFETCH(int, style);
        QFETCH(QMessageBox::StandardButtons, buttons);
        QFETCH(QMessageBox::Icon, icon);
        QFETCH(QMessageBox::StandardButton, defaultButton);
        QFETCH(QMessageBox::StandardButton, escape);
        const MessageBoxSetup setup = MessageBoxSetupFor(style);
        QCOMPARE(setup.buttons, buttons);
        QCOMPARE(setup.icon, icon);
        // Each button answers its own ID; a box closed otherwise answers as its escape button.
        const std::map<QMessageBox::StandardButton, int> ids{{QMessageBox::NoButton, 0},
                                                             {QMessageBox::Ok, 1},
                                                             {QMessageBox::Cancel, 2},
                                                             {QMessageBox::Yes, 6},
                                                             {QMessageBox::No, 7}};
        QCOMPARE(MessageBoxAnswerFor(QMessageBox::NoButton, setup), ids.at(escape));

        // A real box, answered from the keyboard: every button of these styles is the default or the escape.
        MFUMain w;
        for (const auto& [key, pressed] :
             {std::pair{Qt::Key_Escape, escape}, {Qt::Key_Return, defaultButton}}) {
            QString shown;
            QTimer poll;
            connect(&poll, &QTimer::timeout, this, [&, k = key] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    poll.stop();
                    shown = box->windowTitle() + '|' + box->text();
                    QTest::keyClick(box, k);
                }
            });
            poll.start(10);
            QCOMPARE(w.ShowMessageBox(u"First line\r\nSecond line"_s, u"Firmware Update"_s, style),
                     ids.at(pressed));
            QCOMPARE(shown, u"Firmware Update|First line\nSecond line"_s);
        }
    }

    // Each button reports to its own handler, and only while enabled.
    void buttons() {
        MFUMain w;
        std::array<int, 4> calls{};
        w.OnNext = [&] { ++calls[0]; };
        w.OnBack = [&] { ++calls[1]; };
        w.OnClose = [&] { ++calls[2]; };
        w.OnPrint = [&] { ++calls[3]; };
        QVERIFY(Shown(w));
        const std::pair<WizardButton, const char*> buttons[] = {{WizardButton::Next, "NextCmd"},
                                                                {WizardButton::Back, "BackCmd"},
                                                                {WizardButton::Close, "CloseCmd"},
                                                                {WizardButton::Print, "PrintCmd"}};
        for (std::size_t i = 0; i < 4; ++i) {
            auto* pushButton = w.findChild<QPushButton*>(buttons[i].second);
            QVERIFY(pushButton != nullptr);
            w.SetButtonEnabled(buttons[i].first, true);
            QTest::mouseClick(pushButton, Qt::LeftButton);
            w.SetButtonEnabled(buttons[i].first, false);
            QTest::mouseClick(pushButton, Qt::LeftButton);  // reports nothing
            std::array<int, 4> expected{};
            std::fill(expected.begin(), expected.begin() + std::ptrdiff_t(i) + 1, 1);
            QCOMPARE(calls, expected);
        }
    }

    // Next greyed under the focus as an update starts: the focus must not pass on to Close, where a stray
    // Enter or Space would stop the upload.
    void focusDoesNotFallToClose() {
        MFUMain w;
        QVERIFY(Shown(w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        Child(w, "NextCmd")->setFocus();
        QVERIFY(Child(w, "NextCmd")->hasFocus());
        w.SetButtonEnabled(WizardButton::Next, false);
        w.SetButtonEnabled(WizardButton::Back, false);
        QVERIFY(QApplication::focusWidget() != Child(w, "CloseCmd"));
    }

    // Rows appended, the newest one's status replaced, cleared; a percentage status shows a filled bar, a
    // word status does not.
    void taskRows() {
        MFUMain w;
        w.SetFrameVisible(false);
        w.SetTaskListVisible(true);
        w.AppendTaskRow(IconInformation, u"09:05:07"_s, u"Firmware file checked"_s, u"OK"_s);
        w.AppendTaskRow(IconFailure, u"09:05:09"_s, u"Wrong model"_s, u"Error"_s);
        w.AppendTaskRow(IconStarted, u"09:05:12"_s, u"Upload"_s, u"..."_s);
        QVERIFY(Shown(w));
        QTreeWidget* list = List(w);
        const QHeaderView* header = list->header();
        const auto status = [&](int row) {
            return list->visualItemRect(list->topLevelItem(row))
                .intersected(QRect(header->sectionViewportPosition(3), 0, header->sectionSize(3), 10000));
        };
        QCOMPARE(GreenPixels(list->viewport()->grab().toImage(), status(2)), 0);
        for (const char* figure : {"10%", "20%", "80%"})
            w.SetNewestTaskStatus(QLatin1String(figure));
        QCOMPARE(Rows(w),
                 (QStringList{QString::number(IconInformation) + "|09:05:07|Firmware file checked|OK",
                              QString::number(IconFailure) + "|09:05:09|Wrong model|Error",
                              QString::number(IconStarted) + "|09:05:12|Upload|80%"}));
        QVERIFY(!list->topLevelItem(2)->icon(0).isNull());
        const QImage shot = list->viewport()->grab().toImage();
        QVERIFY(GreenPixels(shot, status(2)) > status(2).width() * 4);
        QCOMPARE(GreenPixels(shot, status(0)) + GreenPixels(shot, status(1)), 0);

        w.ClearTaskRows();
        QVERIFY(Rows(w).isEmpty());
        w.SetNewestTaskStatus(u"Done"_s);  // nothing to change, must not add a row
        QVERIFY(Rows(w).isEmpty());
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
        QTest::newRow("word") << "abc%" << -1;
        QTest::newRow("negative") << "-5%" << -1;
        QTest::newRow("trailing words") << "12% done" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void percent() {
        QFETCH(QString, status);
        QFETCH(int, value);
        QCOMPARE(ProgressPercent(status).value_or(-1), value);
    }

    // Closing the window goes through OnClose; it closes only once allowed, by the handler or later.
    void closeEvent() {
        for (const bool handlerAllows : {false, true}) {
            MFUMain w;
            int closes = 0;
            w.OnClose = [&] {
                ++closes;
                if (handlerAllows) {
                    w.AllowClose();
                    w.close();
                }
            };
            QVERIFY(Shown(w));
            QCOMPARE(w.close(), handlerAllows);
            QVERIFY(closes == 1 && w.isVisible() == !handlerAllows);
            w.AllowClose();
            QVERIFY(w.close() && !w.isVisible() && closes == 1);
        }
    }
};

QTEST_MAIN(TestMfuMain)
#include "test_mfu_main.moc"
