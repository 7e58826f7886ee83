// Every text the task list can show, and the instruction pages, fit their room in the window's font, in all
// five languages.
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QtTest>

#include "fakes/wizard_fixture.h"
#include "profile/backup.h"
#include "support/transfer_rate.h"
#include "wizard/front/mfu_main.h"
#include "wizard/front/task_row_delegate.h"
#include "wizard/instruction_pages.h"

class TextFitTest : public QObject {
    Q_OBJECT

private slots:
    void rowsFit_data() {
        QTest::addColumn<int>("column");
        int column = 0;
        for (const char* language : {"en", "de", "fr", "it", "es"})
            QTest::newRow(language) << ++column;
    }
    void rowsFit() {
        QFETCH(int, column);
        TextDatabase texts;
        QCOMPARE(texts.Open(BuiltTextDatabase(), column), TextDatabase::OpenResult::Ok);
        const auto T = [&](Txt id) { return texts.GetText(id); };
        // The widest rate a transfer at the wire's speed shows.
        TransferRate rate(0.0, 2048, 128.0);
        rate.Record(128.0 / 3800.0, 1);
        const QString progress = RateText(QStringLiteral("100%"), rate, T(Txt::TimeLeft));
        const QStringList done = {T(Txt::Done), T(Txt::Error), QStringLiteral("...")};
        // Each event with every status it can carry. Rows that carry a file path are cut, their whole text in
        // their tooltip.
        std::vector<std::pair<QString, QStringList>> rows = {
            {QStringLiteral("KAV 1F, ") + T(Txt::FirmwareVersion) + QStringLiteral(": 1B.05"), {}},
            {T(Txt::UpdateOnlyFor) + QStringLiteral(" KAV 1F!"), {}},
            {T(Txt::UpdateOnlyFor) + QStringLiteral(" KAV 1F, ") + T(Txt::FirmwareVersion) +
                 QStringLiteral(" 1A ") + T(Txt::AndLater),
             {}},
            {texts.Localised(Txt::BackupTask, kBackupTaskText), done + QStringList{progress}},
            {T(Txt::WaitingForRestart), done + QStringList{T(Txt::WaitSeconds).arg(55).arg(55)}}};
        for (const Txt id :
             {Txt::AlreadyCurrent, Txt::BackupFailed, Txt::WriteFailed, Txt::DeviceNotAnswering,
              Txt::DcNotRecognised, Txt::VersionConfirmed, Txt::RestoreNotConfirmed, Txt::UpdateSucceeded,
              Txt::UpdateNotCompleted, Txt::UpdateRetryHint})
            rows.push_back({T(id), {}});
        for (const Txt id : {Txt::ReadingFirmwareFile, Txt::CheckingFirmwareFile, Txt::IdentifyingDc,
                             Txt::CheckingNewFirmware})
            rows.push_back({T(id), done});
        for (const Txt id : {Txt::WritingFirmware, Txt::WritingFirmwarePart1, Txt::WritingFirmwarePart2,
                             Txt::RestoringProfile})
            rows.push_back({T(id), done + QStringList{progress}});
        MFUMain w;
        w.SetFrameVisible(false);
        w.SetTaskListVisible(true);
        w.SetColumnHeaders(T(Txt::ColumnTime), T(Txt::ColumnEvent), T(Txt::ColumnStatus));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* list = w.findChild<QTreeWidget*>("TaskLst");
        const auto* delegate = qobject_cast<const TaskRowDelegate*>(list->itemDelegate());
        QStringList cut;
        for (const auto& [event, statuses] : rows) {
            for (const QString& status : statuses.isEmpty() ? QStringList{QString()} : statuses) {
                w.AppendTaskRow(IconStarted, QStringLiteral("23:59:59"), event, QString());
                w.SetNewestTaskProgress(QString(), status);
                const int row = list->topLevelItemCount() - 1;
                for (const int c : {1, 2, 3}) {
                    const QModelIndex index = list->model()->index(row, c);
                    const QString full = SplitRateStatus(index.data().toString()).first;
                    if (!full.isEmpty() && delegate->ShownText(index) != full)
                        cut << delegate->ShownText(index) + QStringLiteral(" (with \"") + status + '"' + ')';
                }
            }
        }
        const QFontMetrics header(list->header()->font());
        for (int c = 1; c <= 3; ++c) {
            const QString caption = list->headerItem()->text(c);
            if (header.horizontalAdvance(caption) + 8 > list->header()->sectionSize(c))
                cut << caption;
        }
        // The instruction pages fit their label.
        auto* label = w.findChild<QLabel*>("Lbl1");
        for (const int page : {1, 2}) {
            w.SetInstructionText(InstructionPageText(page, texts));
            if (label->heightForWidth(label->width()) > label->height())
                cut << QStringLiteral("page %1").arg(page);
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("\n"))));
    }
};

QTEST_MAIN(TextFitTest)
#include "test_text_fit.moc"
