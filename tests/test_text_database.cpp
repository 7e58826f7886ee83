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
    // Codes by the thousand from 5000, rounded to even and cut toward zero; 4000 is the id column.
    void languageColumnFromCode() {
        QList<int> columns;
        for (double code : {5000.0, 6000.0, 6999.0, 7000.0, 4500.0, 4000.0, 3000.0, 5999.5})
            columns << LanguageColumnForCode(code);
        QCOMPARE(columns, (QList<int>{1, 2, 2, 3, 1, 0, -1, 2}));
    }

    void resourceVariantForTheUiLanguage() {
        QCOMPARE(ResourceLocaleFor(QLocale(QLocale::German)), 1031);
        QCOMPARE(ResourceLocaleFor(QLocale(QLocale::Japanese)), 1033);
        QCOMPARE(LanguageColumnFromResource(QStringList{"KAV.1F.FWR", "x", "", "abc"}), 1);
    }

    // The build fails on a text missing in any language; what it could still get wrong is the indent.
    void builtDatabaseKeepsIndentedLines() {
        TextDatabase db;
        QCOMPARE(db.Open(qEnvironmentVariable("KAV_TEST_LNG"), 1), TextDatabase::OpenResult::Ok);
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
