#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <memory>

#include "support/text_ids.h"

// FirmwareUpdate.lng: SQLite tables CONTENTS (ID, then one text column per language) and LANGUAGES (at least
// one row). Every text the wizard shows in its own words comes from here, by id, in the column chosen at
// start-up.
class TextDatabase {
public:
    enum class OpenResult {
        Ok,
        Damaged,   // something is wrong (a table missing, no language), but texts can still be served
        Unusable,  // the file cannot be opened or holds no texts: nothing can be served
    };

    TextDatabase();
    ~TextDatabase();
    TextDatabase(const TextDatabase&) = delete;
    TextDatabase& operator=(const TextDatabase&) = delete;

    // The column is a field position of CONTENTS: 1 is the first language; 0 is the id itself.
    OpenResult Open(const QString& path, int languageColumn);
    void Close();
    bool IsOpen() const { return query_ != nullptr; }

    // The text of the chosen language; empty when there is no such id or no such column.
    QString GetText(Txt id) const { return GetText(static_cast<qint32>(id)); }
    QString GetText(qint32 id) const;

    // A text with a fixed English wording: that wording when English (column 1) is shown, else the
    // translation; the English wording too when the database has none.
    QString Localised(Txt id, const QString& english) const {
        if (column_ == 1)
            return english;
        const QString text = GetText(id);
        return text.isEmpty() ? english : text;
    }

private:
    QString connection_;
    int column_ = 1;
    std::unique_ptr<QSqlQuery> query_;  // the prepared lookup by key, reused for every text
};

// Where the text database is looked for: the application folder, then beside the executable, then the
// installed data folder. Returns the first that exists, else the one in the application folder.
QString FindTextDatabase(const QString& appDir, const QString& exeDir, const QString& dataDir);

inline constexpr const char* kTextDatabaseName = "FirmwareUpdate.lng";
inline constexpr const char* kTextDatabaseFallback =
    "The text database FirmwareUpdate.lng could not be opened (0001).";
