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

bool CheckDeviceId(QString& s, const QString& FwrModelId, QString& DeviceVersion) {
    s = HalveBlankPairs(s);
    const QStringList words = s.split(u' ', Qt::KeepEmptyParts);
    if (words.size() < 3)
        return false;
    if (!FwrModelId.isEmpty() && !s.contains(FwrModelId, Qt::CaseInsensitive))
        return false;
    if (words.size() == 3) {
        DeviceVersion = words[1].right(2);
    } else if (words.size() == 4) {
        DeviceVersion = words[2].right(2);
    }
    return true;
}
