#include "support/text_database.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlRecord>
#include <QUuid>

#include "support/app_folders.h"

TextDatabase::TextDatabase()
    : connection_(QStringLiteral("kav-texts-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

TextDatabase::~TextDatabase() {
    Close();
}

TextDatabase::OpenResult TextDatabase::Open(const QString& path, int languageColumn) {
    Close();
    column_ = languageColumn;
    // A missing file must not be created empty by the driver.
    if (!QFileInfo(path).isFile())
        return OpenResult::Unusable;

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open())
        return OpenResult::Unusable;

    auto lookup = std::make_unique<QSqlQuery>(db);
    if (!lookup->prepare(QStringLiteral("SELECT * FROM CONTENTS WHERE ID = ?"))) {
        return OpenResult::Unusable;
    }
    lookup->setForwardOnly(true);
    query_ = std::move(lookup);

    QSqlQuery languages(db);
    if (!languages.exec(QStringLiteral("SELECT 1 FROM LANGUAGES LIMIT 1")) || !languages.next()) {
        return OpenResult::Damaged;
    }
    return OpenResult::Ok;
}

void TextDatabase::Close() {
    if (!QSqlDatabase::contains(connection_))
        return;
    query_.reset();
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

QString TextDatabase::GetText(qint32 id) const {
    if (!query_)
        return {};
    query_->bindValue(0, id);
    QString text;
    if (query_->exec() && query_->next() && column_ >= 0 && column_ < query_->record().count()) {
        text = query_->value(column_).toString();
    }
    query_->finish();
    return text;
}

QString FindTextDatabase(const QString& appDir, const QString& exeDir, const QString& dataDir) {
    const QString name = QString::fromLatin1(kTextDatabaseName);
    const QString found = FindFileIn(name, {appDir, exeDir, dataDir});
    return found.isEmpty() ? QDir(appDir).filePath(name) : found;
}
