#include "support/language.h"

#include <cmath>

int LanguageColumnForCode(double code) {
    const double offset = std::nearbyint(code - 5000.0);  // to the nearest whole number, halves to even
    return static_cast<int>(std::trunc(offset / 1000.0)) + 1;
}

int LanguageColumnFromResource(const QStringList& fields) {
    if (fields.size() < 4)
        return 1;
    bool ok = false;
    const double code = fields[3].trimmed().toDouble(&ok);
    return ok ? LanguageColumnForCode(code) : 1;
}
