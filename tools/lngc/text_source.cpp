#include "tools/lngc/text_source.h"

#include <QRegularExpression>
#include <algorithm>
#include <set>

namespace {

QString Unescape(QString text) {
    return text.replace(QStringLiteral("\\n"), QStringLiteral("\r\n"));
}

}  // namespace

bool ParseTextSource(const QString& source, const QString& sourceName, std::vector<TextEntry>& entries,
                     QString& error) {
    static const QRegularExpression header(QStringLiteral("^@(\\d{1,9}) ([A-Za-z][A-Za-z0-9]*)$"));
    static const QRegularExpression text(QStringLiteral("^([a-z]{2}): (.*)$"));
    const QStringList lines = source.split(QLatin1Char('\n'));
    for (int lineNo = 1; lineNo <= lines.size(); ++lineNo) {
        QString line = lines[lineNo - 1];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        const QString where = QStringLiteral("%1:%2: ").arg(sourceName).arg(lineNo);
        if (auto m = header.match(line); m.hasMatch()) {
            entries.push_back({m.captured(1).toInt(), m.captured(2), {}, lineNo});
            continue;
        }
        auto m = text.match(line);
        if (!m.hasMatch() || entries.empty()) {
            error = where + "expected '@<id> <Name>' or '<lang>: <text>'";
            return false;
        }
        const QString lang = m.captured(1);
        if (std::any_of(line.begin(), line.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; })) {
            error = where + "a control character (a stray carriage return?) in the text";
            return false;
        }
        if (!kTextLanguages.contains(lang)) {
            error = where + "unknown language '" + lang + "'";
            return false;
        }
        if (!entries.back().texts.emplace(lang, Unescape(m.captured(2))).second) {
            error = where + "language '" + lang + "' given twice";
            return false;
        }
    }
    std::set<int> ids;
    std::set<QString> names;
    for (const TextEntry& e : entries) {
        const QString where = QStringLiteral("%1:%2: ").arg(sourceName).arg(e.line);
        if (!ids.insert(e.id).second || !names.insert(e.name).second) {
            error = where + "id or name used twice";
            return false;
        }
        for (const QString& lang : kTextLanguages) {
            auto it = e.texts.find(lang);
            if (it == e.texts.end() || it->second.trimmed().isEmpty()) {
                error = where + QStringLiteral("text %1 has no '%2' text").arg(e.id).arg(lang);
                return false;
            }
        }
    }
    return true;
}
