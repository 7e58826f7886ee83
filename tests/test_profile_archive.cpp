// Profiles confirmed back in their DC are kept in the archive, where no later run takes them for waiting.
#include <QtTest>

#include "fakes/update_fixture.h"
#include "profile/backup.h"
#include "profile/backup_file.h"
#include "profile/restore.h"

class TestProfileArchive : public QObject {
    Q_OBJECT

private slots:
    void confirmedRestoresAreArchived_data() {
        QTest::addColumn<bool>("blocked");  // a file where the archive folder belongs
        QTest::newRow("eleven restores: the newest ten kept") << false;
        QTest::newRow("archive cannot be made: deleted, said so") << true;
    }
    void confirmedRestoresAreArchived() {
        QFETCH(bool, blocked);
        UpdateFixture f(ProfileDc(256, 287));
        const QString folder = f.appDir.path(), archive = ArchiveFolder(folder);
        const QByteArray saved = ExpectedBackupFile(DcModel(ProfileDc(256, 287, 7)).Memory(), 512);
        const QStringList others = {archive + "/513.123456.20250101-120000.bin",
                                    archive + "/513.210417.20250101-120000.before-restore.bin"};
        if (blocked) {
            f.PlaceFile(QByteArray(), archive);
        } else {
            QVERIFY(QDir().mkpath(archive));
            for (const QString& other : others)
                f.PlaceFile(saved, other);
        }
        QStringList archived;  // the newest after each restore
        for (int i = 0; i < (blocked ? 1 : kArchiveKept + 1); ++i) {
            f.PlaceFile(saved);
            QCOMPARE(GetBackupProfile(*f.context), BackupLookup::Usable);
            QVERIFY(RestoreProfile(*f.context));
            QVERIFY(f.session.profile.Restored && !QFile::exists(f.BackupPath()));
            const QStringList now = ArchivedFiles(folder, "513.210417", kRestoredSuffix);
            if (!now.isEmpty())
                archived << now.back();
        }
        const auto& rows = f.view.rows;
        if (blocked) {
            const QString told = f.Text(Txt::ArchiveFailed).section("%3", 0, 0).arg(f.BackupPath(), archive);
            QVERIFY2(rows.back().event.startsWith(told), qPrintable(rows.back().event));
            QCOMPARE(QFileInfo(archive).size(), 0);
            return;
        }
        QVERIFY(std::ranges::all_of(rows,
                                    [&](const auto& r) { return r.event == f.Text(Txt::RestoringProfile); }));
        QCOMPARE(ArchivedFiles(folder, "513.210417", kRestoredSuffix), archived.mid(1));
        QCOMPARE(FileBytes(archived.back()), saved);
        for (const QString& other : others)
            QCOMPARE(FileBytes(other), saved);
        // A later run finds nothing waiting.
        QVERIFY(WaitingBackupFiles(folder, 513).isEmpty() && BackupFilesOfSerial(folder, 210417).isEmpty());
        QCOMPARE(GetBackupProfile(*f.context), BackupLookup::NotUsable);
    }
};

QTEST_GUILESS_MAIN(TestProfileArchive)
#include "test_profile_archive.moc"
