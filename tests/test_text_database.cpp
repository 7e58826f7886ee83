// The text database: language columns, lookups, and what a damaged file does.
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "resources/string_resources.h"
#include "support/language.h"
#include "support/text_database.h"

namespace {

QString Built() {
    return qEnvironmentVariable("KAV_TEST_LNG");
}

// A database made by hand, to test the reader against files the build would never produce.
QString MakeDatabase(const QTemporaryDir& dir, const QStringList& statements) {
    const QString path = dir.filePath("FirmwareUpdate.lng");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "make");
        db.setDatabaseName(path);
        if (!db.open())
            return {};
        QSqlQuery q(db);
        for (const QString& s : statements) {
            if (!q.exec(s))
                qWarning() << s << q.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("make");
    return path;
}

const QStringList kGoodTables = {
    "CREATE TABLE CONTENTS (ID INTEGER PRIMARY KEY, L1 TEXT, L2 TEXT)",
    "INSERT INTO CONTENTS VALUES (280, 'Error', 'Fehler')",
    "INSERT INTO CONTENTS VALUES (777, 'Done', '')",
    "CREATE TABLE LANGUAGES (Code INTEGER)",
    "INSERT INTO LANGUAGES VALUES (5000)",
};

}  // namespace

class TextDatabaseTest : public QObject {
    Q_OBJECT

private slots:
    void languageColumnFromCode_data() {
        QTest::addColumn<double>("code");
        QTest::addColumn<int>("column");
        QTest::newRow("5000") << 5000.0 << 1;
        QTest::newRow("5999") << 5999.0 << 1;
        QTest::newRow("6000") << 6000.0 << 2;
        QTest::newRow("6500") << 6500.0 << 2;
        QTest::newRow("6999") << 6999.0 << 2;
        QTest::newRow("7000") << 7000.0 << 3;
        QTest::newRow("4500 truncates toward zero") << 4500.0 << 1;
        QTest::newRow("4000 is the id column") << 4000.0 << 0;
        QTest::newRow("3999 truncates toward zero") << 3999.0 << 0;
        QTest::newRow("3000 is no column") << 3000.0 << -1;
        QTest::newRow("5999.5 rounds to even, 6000") << 5999.5 << 2;
        QTest::newRow("5998.5 rounds to even, 5998") << 5998.5 << 1;
    }
    void languageColumnFromCode() {
        QFETCH(double, code);
        QFETCH(int, column);
        QCOMPARE(LanguageColumnForCode(code), column);
    }

    void languageColumnFromResource_data() {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<int>("column");
        QTest::newRow("four fields") << "KAV.1F.FWR|x||6000" << 2;
        QTest::newRow("three fields") << "KAV.1F.FWR|x|" << 1;
        QTest::newRow("not a number") << "KAV.1F.FWR|x||abc" << 1;
    }
    void languageColumnFromResource() {
        QFETCH(QString, resource);
        QFETCH(int, column);
        QCOMPARE(LanguageColumnFromResource(resource.split('|')), column);
    }

    void stringResourcesInEveryVariant() {
        for (int locale : kResourceLocales) {
            const QStringList startup = LoadStringResource(ResourceStartup, locale).split('|');
            QCOMPARE(startup.size(), 4);
            QCOMPARE(startup[0], QStringLiteral("KAV.1F.FWR"));
            QVERIFY(startup[2].isEmpty());
            QCOMPARE(startup[3], QStringLiteral("5000"));
            QCOMPARE(LoadStringResource(ResourceDeviceVersions, locale),
                     QStringLiteral("HOLM|KAV|512|6865|1A"));
            const QString password = LoadStringResource(ResourceDatabasePassword, locale);
            QCOMPARE(password.size(), 20);
        }
        QCOMPARE(ResourceLocaleFor(QLocale(QLocale::German)), 1031);
        QCOMPARE(ResourceLocaleFor(QLocale(QLocale::Spanish)), 3082);
        QCOMPARE(ResourceLocaleFor(QLocale(QLocale::Japanese)), 1033);
    }

    // Every text the wizard's parts ask for is there, in all five languages.
    void builtDatabaseHoldsEveryTextInFiveLanguages() {
        QList<int> ids = {141, 150, 280, 352, 593, 605, 640, 654, 664, 683, 776, 777, 778,
                          779, 792, 793, 794, 796, 797, 814, 815, 816, 817, 818, 819, 820};
        for (int id = 781; id <= 790; ++id)
            ids << id;
        for (int id = 799; id <= 809; ++id)
            ids << id;
        ids.removeAll(791);
        ids.removeAll(798);
        TextDatabase db;
        for (int column = 1; column <= 5; ++column) {
            QCOMPARE(db.Open(Built(), column), TextDatabase::OpenResult::Ok);
            for (int id : ids) {
                QVERIFY2(!db.GetText(id).trimmed().isEmpty(),
                         qPrintable(QStringLiteral("text %1, column %2").arg(id).arg(column)));
            }
            QVERIFY(db.GetText(100000).isEmpty());
        }
        // The indented continuation lines keep their indent.
        QVERIFY(db.GetText(Txt::RecoverLinePcScreen).startsWith("   ") &&
                !db.GetText(Txt::RecoverLinePcScreen).startsWith("    "));
    }

    void lookupByColumn_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("text");
        QTest::newRow("first language") << 1 << 280 << "Error";
        QTest::newRow("second language") << 2 << 280 << "Fehler";
        QTest::newRow("column 0 is the id") << 0 << 280 << "280";
        QTest::newRow("no such column") << 3 << 280 << "";
        QTest::newRow("negative column") << -1 << 280 << "";
        QTest::newRow("no such id") << 1 << 281 << "";
        QTest::newRow("missing translation") << 2 << 777 << "";
    }
    void lookupByColumn() {
        QFETCH(int, column);
        QFETCH(int, id);
        QFETCH(QString, text);
        QTemporaryDir dir;
        TextDatabase db;
        QCOMPARE(db.Open(MakeDatabase(dir, kGoodTables), column), TextDatabase::OpenResult::Ok);
        QCOMPARE(db.GetText(id), text);
        QCOMPARE(db.GetText(id), text);  // the prepared lookup is reusable
    }

    void damagedDatabases_data() {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("error");
        const QStringList contents = kGoodTables.mid(0, 3);
        QTest::newRow("no LANGUAGES table") << contents << int(TextDatabase::OpenResult::Damaged) << "Error";
        QTest::newRow("empty LANGUAGES") << contents + QStringList{"CREATE TABLE LANGUAGES (Code INTEGER)"}
                                         << int(TextDatabase::OpenResult::Damaged) << "Error";
        QTest::newRow("no CONTENTS table")
            << kGoodTables.mid(3) << int(TextDatabase::OpenResult::Unusable) << "";
        QTest::newRow("not a database") << QStringList{} << int(TextDatabase::OpenResult::Unusable) << "";
    }
    void damagedDatabases() {
        QFETCH(QStringList, statements);
        QFETCH(int, result);
        QFETCH(QString, error);
        QTemporaryDir dir;
        QString path = MakeDatabase(dir, statements);
        if (statements.isEmpty()) {
            QFile junk(path);
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write(QByteArray(4096, 'x'));
        }
        TextDatabase db;
        QCOMPARE(int(db.Open(path, 1)), result);
        QCOMPARE(db.GetText(Txt::Error), error);
    }

    void missingFileIsNotCreated() {
        QTemporaryDir dir;
        const QString path = dir.filePath("FirmwareUpdate.lng");
        TextDatabase db;
        QCOMPARE(db.Open(path, 1), TextDatabase::OpenResult::Unusable);
        QVERIFY(!QFile::exists(path));
        QVERIFY(db.GetText(Txt::Error).isEmpty());
    }

    void searchOrderOfTheDatabase() {
        QTemporaryDir app, exe, data;
        const auto place = [](const QTemporaryDir& d) {
            QFile f(d.filePath("FirmwareUpdate.lng"));
            QVERIFY(f.open(QIODevice::WriteOnly));
        };
        const QString inApp = app.filePath("FirmwareUpdate.lng");
        QCOMPARE(FindTextDatabase(app.path(), exe.path(), data.path()), inApp);  // nowhere: the app folder
        place(data);
        QCOMPARE(FindTextDatabase(app.path(), exe.path(), data.path()), data.filePath("FirmwareUpdate.lng"));
        place(exe);
        QCOMPARE(FindTextDatabase(app.path(), exe.path(), data.path()), exe.filePath("FirmwareUpdate.lng"));
        place(app);
        QCOMPARE(FindTextDatabase(app.path(), exe.path(), data.path()), inApp);
    }
};

QTEST_GUILESS_MAIN(TextDatabaseTest)
#include "test_text_database.moc"
