#include "support/device_id.h"

#include <QStringList>

namespace {

// One left-to-right pass: a run of three blanks leaves two, so the empty words it makes still count.
QString HalveBlankPairs(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        out.append(s[i]);
        if (s[i] == u' ' && i + 1 < s.size() && s[i + 1] == u' ')
            ++i;
    }
    return out;
}

}  // namespace

std::optional<QString> FirmwareVersionOf(const QString& idText, const QString& modelId) {
    const QString s = HalveBlankPairs(idText);
    const QStringList words = s.split(u' ', Qt::KeepEmptyParts);
    if (words.size() < 3)
        return std::nullopt;
    if (!modelId.isEmpty() && !s.contains(modelId, Qt::CaseInsensitive))
        return std::nullopt;
    if (words.size() == 3)
        return words[1].right(2);
    if (words.size() == 4)
        return words[2].right(2);
    return QString();
}
