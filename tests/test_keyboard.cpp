// A whole update in the window with the keyboard alone, on the in-process simulated DC and a virtual clock.
#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "fakes/wizard_fixture.h"
#include "tools/screenshot/simulated_wizard.h"
#include "wizard/front/mfu_main.h"

namespace {

// A key as a person types it: to the widget that has the focus.
void Press(QWidget& window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus != nullptr ? focus : &window, Qt::Key(key), modifiers);
}

QString AccessibleName(QObject* object) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(object);
    return a != nullptr ? a->text(QAccessible::Name) : QString();
}

}  // namespace

class KeyboardTest : public QObject {
    Q_OBJECT

private slots:
    void wholeUpdateByKeys() {
        QTemporaryDir appDir;
        MFUMain w;
        SimulatedWizard wizard(w, KAV_DEMO_FIRMWARE, QFileInfo(BuiltTextDatabase()).absolutePath(),
                               appDir.path(), 6000);
        StageMachine& machine = wizard.machine;
        w.OnNext = [&] { machine.NextClick(); };
        w.OnBack = [&] { machine.BackClick(); };
        w.OnClose = [&] { machine.CloseClick(); };
        QVERIFY(machine.Load());
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));

        // Every button has its own mnemonic and is named without it; the list and the text are named too.
        QString letters;
        for (const char* name : {"NextCmd", "BackCmd", "CloseCmd"}) {
            auto* button = w.findChild<QPushButton*>(name);
            const qsizetype amp = button->text().indexOf('&');
            QVERIFY2(amp >= 0 && !letters.contains(button->text()[amp + 1].toLower()), name);
            letters += button->text()[amp + 1].toLower();
            QCOMPARE(AccessibleName(button), QString(button->text()).remove('&'));
        }
        QCOMPARE(AccessibleName(w.findChild<QWidget*>("Lbl1")),
                 wizard.texts.GetText(Txt::Instructions).toUpper());
        QVERIFY(!AccessibleName(w.findChild<QWidget*>("TaskLst")).isEmpty());
        QVERIFY(!w.findChild<QWidget*>("Lbl1")->accessibleDescription().isEmpty());

        Press(w, Qt::Key_Return);  // Next: page 2
        QCOMPARE(machine.CurrentStage(), 2);
        // Focus runs along the buttons: Back, Next, Close, and round.
        for (const char* next : {"CloseCmd", "BackCmd", "NextCmd"}) {
            Press(w, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), next);
        }

        Press(w, letters[1].unicode() - 'a' + Qt::Key_A, Qt::AltModifier);  // Back by its mnemonic
        QTRY_COMPARE(machine.CurrentStage(), 1);
        Press(w, Qt::Key_Return);
        QCOMPARE(machine.CurrentStage(), 2);
        Press(w, Qt::Key_Enter);  // the update, to its end on the virtual clock
        QVERIFY(machine.UpdateHasRun());
        QCOMPARE(wizard.tasks.Rows().back().event, wizard.texts.GetText(Txt::UpdateSucceeded));
        QVERIFY(QDir(appDir.path()).entryList({"*.bin"}).isEmpty());

        QSignalSpy hidden(w.windowHandle(), &QWindow::visibleChanged);  // off the top without a flicker
        Press(w, Qt::Key_Escape);                                       // Close
        QVERIFY(machine.Ended());
        QCOMPARE(hidden.count(), 0);
        QCOMPARE(machine.ExitCode(), int(ExitUpdateSucceeded));
    }
};

QTEST_MAIN(KeyboardTest)
#include "test_keyboard.moc"
