// kav-lngc: turns the reviewable text source into the text database FirmwareUpdate.lng and into the header of
// text ids the code may use. Any gap in the source (a language missing, an id or name twice) fails the build.
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <cstdio>

#include "tools/lngc/text_source.h"

namespace {

const QStringList kColumns = {"English", "German", "French", "Italian", "Spanish"};
// Language codes of the columns: column n answers code 5000 + (n - 1) * 1000.
const int kFirstCode = 5000;

int Fail(const QString& message) {
    std::fprintf(stderr, "kav-lngc: %s\n", qPrintable(message));
    return 1;
}

bool Parse(const QString& path, std::vector<TextEntry>& entries, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = path + ": cannot be read";
        return false;
    }
    return ParseTextSource(QString::fromUtf8(file.readAll()), path, entries, error);
}

bool WriteDatabase(const QString& path, const std::vector<TextEntry>& entries, QString& error) {
    const QString temp = path + ".tmp";
    QFile::remove(temp);
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lngc"));
        db.setDatabaseName(temp);
        if (!db.open()) {
            error = db.lastError().text();
            return false;
        }
        QSqlQuery q(db);
        QStringList columns;
        for (const QString& c : kColumns)
            columns << c + " TEXT NOT NULL";
        ok =
            q.exec("CREATE TABLE CONTENTS (ID INTEGER PRIMARY KEY, " + columns.join(", ") + ")") &&
            q.exec(QStringLiteral("CREATE TABLE LANGUAGES (Code INTEGER PRIMARY KEY, Name TEXT NOT NULL)")) &&
            db.transaction();
        for (int i = 0; ok && i < kColumns.size(); ++i) {
            q.prepare(QStringLiteral("INSERT INTO LANGUAGES VALUES (?, ?)"));
            q.addBindValue(kFirstCode + i * 1000);
            q.addBindValue(kColumns[i]);
            ok = q.exec();
        }
        q.prepare("INSERT INTO CONTENTS VALUES (?" + QStringLiteral(", ?").repeated(kColumns.size()) + ")");
        for (const TextEntry& e : entries) {
            if (!ok)
                break;
            q.addBindValue(e.id);
            for (const QString& lang : kTextLanguages)
                q.addBindValue(e.texts.at(lang));
            ok = q.exec();
        }
        ok = ok && db.commit();
        if (!ok)
            error = q.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("lngc"));
    if (!ok)
        return false;
    QFile::remove(path);
    if (!QFile::rename(temp, path)) {
        error = path + ": cannot be written";
        return false;
    }
    return true;
}

bool WriteHeader(const QString& path, const std::vector<TextEntry>& entries, QString& error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        error = path + ": cannot be written";
        return false;
    }
    QTextStream out(&file);
    out << "// Generated from resources/texts.txt by kav-lngc. Do not edit.\n"
           "#pragma once\n\n#include <cstdint>\n\n"
           "// The ids of the texts in FirmwareUpdate.lng; only these can be asked for.\n"
           "enum class Txt : std::int32_t {\n";
    for (const TextEntry& e : entries)
        out << "    " << e.name << " = " << e.id << ",\n";
    out << "};\n";
    out.flush();
    if (!file.commit()) {
        error = path + ": cannot be written";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return Fail("usage: kav-lngc TEXTS.txt OUT.lng OUT_ids.h");
    std::vector<TextEntry> entries;
    QString error;
    if (!Parse(args[1], entries, error) || !WriteDatabase(args[2], entries, error) ||
        !WriteHeader(args[3], entries, error))
        return Fail(error);
    return 0;
}
