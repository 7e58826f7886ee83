#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <vector>

// The reviewable text source: entries "@<id> <Name>", each followed by one "<lang>: <text>" line per
// language; blank lines and lines starting with '#' are skipped; "\n" in a text is a line break (CR LF).
struct TextEntry {
    int id = 0;
    QString name;
    std::map<QString, QString> texts;  // language code -> text
    int line = 0;
};

inline const QStringList kTextLanguages = {"en", "de", "fr", "it", "es"};

// Entries in source order. False, with *error naming the line, for a gap: an unknown line, an unknown or
// repeated language, an id or name used twice, a language missing or blank.
bool ParseTextSource(const QString& source, const QString& sourceName, std::vector<TextEntry>& entries,
                     QString& error);
