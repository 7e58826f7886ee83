// A program killed while it writes a backup file leaves the earlier complete file or none, never a part of
// one.
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "profile/backup_file.h"

class BackupAtomicTest : public QObject {
    Q_OBJECT

private slots:
    void killedWriterLeavesACompleteFileOrNone() {
        QTemporaryDir dir;
        const QString path = dir.filePath("513.210417.bin");
        QRandomGenerator random(7);
        int complete = 0;
        for (int round = 0; round < 12; ++round) {
            QProcess writer;
            writer.start(KAV_BACKUP_WRITER, {path});
            QVERIFY(writer.waitForStarted());
            if (round % 3 == 0) {
                QTest::qWait(int(random.bounded(5)));  // possibly before the first write is done
            } else {
                QVERIFY(writer.waitForReadyRead(10000));
                QTest::qWait(int(random.bounded(40)));
            }
            writer.kill();  // SIGKILL: no clean-up of any kind
            writer.waitForFinished();
            if (!QFileInfo::exists(path))
                continue;
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            ProfileState read;
            QString why;
            QVERIFY2(DecodeBackup(file.readAll(), read, &why), qPrintable(why));
            ++complete;
        }
        QVERIFY(complete > 0);  // the kills did land after writes, not only before
    }

    // A power cut of the PC right after the backup is done keeps it: the data is synced before the rename
    // and the folder after it. Seen in the system calls of one write.
    void syncedAroundTheRename() {
        QTemporaryDir dir;
        const QString path = dir.filePath("513.210417.bin"), log = dir.filePath("calls");
        QProcess strace;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS",
                   env.value("ASAN_OPTIONS") + ":detect_leaks=0");  // no leak check under ptrace
        strace.setProcessEnvironment(env);
        strace.start("strace", {"-f", "-y", "-e", "trace=fsync,rename,renameat,renameat2,link,linkat", "-o",
                                log, KAV_BACKUP_WRITER, path, "once"});
        if (!strace.waitForFinished(20000) || strace.exitCode() != 0)
            QSKIP("strace cannot trace here");
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString calls = QString::fromUtf8(file.readAll()),
                      folder = QRegularExpression::escape(dir.path());
        const auto at = [&](const QString& pattern) { return calls.indexOf(QRegularExpression(pattern)); };
        const qsizetype named = at("(rename|link)\\w*\\(.*\"" + QRegularExpression::escape(path) + "\"");
        const qsizetype synced = at("fsync\\(\\d+<" + folder + "/.*\\) = 0");
        QVERIFY2(synced >= 0 && synced < named, qPrintable(calls));
        QVERIFY2(calls.indexOf(QRegularExpression("fsync\\(\\d+<" + folder + ">\\) = 0"), named) > named,
                 qPrintable(calls));
    }
};

QTEST_GUILESS_MAIN(BackupAtomicTest)
#include "test_backup_atomic.moc"
