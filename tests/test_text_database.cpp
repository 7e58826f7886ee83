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

// A database made by hand, to test the reader against files the build would never produce.
QString MakeDatabase(const QTemporaryDir& dir, const QStringList& statements) {
    const QString path = dir.filePath("FirmwareUpdate.lng");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "make");
        db.setDatabaseName(path);
        db.open();
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
        QTest::newRow("6000") << 6000.0 << 2;
        QTest::newRow("6999") << 6999.0 << 2;
        QTest::newRow("7000") << 7000.0 << 3;
        QTest::newRow("4500 truncates toward zero") << 4500.0 << 1;
        QTest::newRow("4000 is the id column") << 4000.0 << 0;
        QTest::newRow("3000 is no column") << 3000.0 << -1;
        QTest::newRow("5999.5 rounds to even, 6000") << 5999.5 << 2;
    }
    void languageColumnFromCode() {
        QFETCH(double, code);
        QFETCH(int, column);
        QCOMPARE(LanguageColumnForCode(code), column);
    }

    void resourceVariantForTheUiLanguage() {
        QCOMPARE(ResourceLocaleFor(QLocale(QLocale::German)), 1031);
        QCOMPARE(ResourceLocaleFor(QLocale(QLocale::Japanese)), 1033);
        QCOMPARE(LanguageColumnFromResource(QStringList{"KAV.1F.FWR", "x", "", "abc"}), 1);
    }

    // Every text the wizard's parts ask for is there, in all five languages.
    void builtDatabaseHoldsEveryTextInFiveLanguages() {
        QList<int> ids = {141, 150, 280, 352, 593, 605, 640, 654, 664, 683,
                          776, 777, 778, 779, 792, 793, 794, 796, 797};
        for (int id = 781; id <= 820; ++id) {
            if (id <= 790 || (id >= 799 && id <= 809) || id >= 814)
                ids << id;
        }
        TextDatabase db;
        for (int column = 1; column <= 5; ++column) {
            QCOMPARE(db.Open(qEnvironmentVariable("KAV_TEST_LNG"), column), TextDatabase::OpenResult::Ok);
            for (int id : ids)
                QVERIFY2(!db.GetText(id).trimmed().isEmpty(),
                         qPrintable(QString("text %1, column %2").arg(id).arg(column)));
        }
        // The indented continuation lines keep their indent.
        QVERIFY(db.GetText(Txt::RecoverLinePcScreen).startsWith("   ") &&
                !db.GetText(Txt::RecoverLinePcScreen).startsWith("    "));
    }

    void openAndLookUp_data() {
        QTest::addColumn<QStringList>("statements");  // none: no database, only the junk, if any
        QTest::addColumn<QByteArray>("junk");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        using R = TextDatabase::OpenResult;
        const QStringList good = kGoodTables, contents = good.mid(0, 3);
        const QByteArray none;
        QTest::newRow("first language") << good << none << 1 << 280 << int(R::Ok) << "Error";
        QTest::newRow("second language") << good << none << 2 << 280 << int(R::Ok) << "Fehler";
        QTest::newRow("column 0 is the id") << good << none << 0 << 280 << int(R::Ok) << "280";
        QTest::newRow("no such column") << good << none << 3 << 280 << int(R::Ok) << "";
        QTest::newRow("no such id") << good << none << 1 << 281 << int(R::Ok) << "";
        QTest::newRow("missing translation") << good << none << 2 << 777 << int(R::Ok) << "";
        QTest::newRow("no LANGUAGES table") << contents << none << 1 << 280 << int(R::Damaged) << "Error";
        QTest::newRow("empty LANGUAGES") << contents + QStringList{"CREATE TABLE LANGUAGES (Code INTEGER)"}
                                         << none << 1 << 280 << int(R::Damaged) << "Error";
        QTest::newRow("no CONTENTS table") << good.mid(3) << none << 1 << 280 << int(R::Unusable) << "";
        QTest::newRow("not a database")
            << QStringList{} << QByteArray(4096, 'x') << 1 << 280 << int(R::Unusable) << "";
        QTest::newRow("missing file: not created")
            << QStringList{} << none << 1 << 280 << int(R::Unusable) << "";
    }
    void openAndLookUp() {
        QFETCH(QStringList, statements);
        QFETCH(QByteArray, junk);
        QFETCH(int, column);
        QFETCH(int, id);
        QFETCH(int, result);
        QFETCH(QString, text);
        QTemporaryDir dir;
        QFile file(statements.isEmpty() ? dir.filePath("FirmwareUpdate.lng") : MakeDatabase(dir, statements));
        if (!junk.isEmpty())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(junk) == junk.size() && file.flush());
        const bool existed = file.exists();
        TextDatabase db;
        QCOMPARE(int(db.Open(file.fileName(), column)), result);
        QCOMPARE(db.GetText(id), text);
        QCOMPARE(db.GetText(id), text);  // the prepared lookup is reusable
        QCOMPARE(file.exists(), existed);
    }

    void searchOrderOfTheDatabase() {
        QTemporaryDir app, exe, data;
        const QString name = "FirmwareUpdate.lng";
        QCOMPARE(FindTextDatabase(app.path(), exe.path(), data.path()),
                 app.filePath(name));                             // none: app folder
        for (const QTemporaryDir* place : {&data, &exe, &app}) {  // each wins over the places before it
            QVERIFY(QFile(place->filePath(name)).open(QIODevice::WriteOnly));
            QCOMPARE(FindTextDatabase(app.path(), exe.path(), data.path()), place->filePath(name));
        }
    }
};

QTEST_GUILESS_MAIN(TextDatabaseTest)
#include "test_text_database.moc"
