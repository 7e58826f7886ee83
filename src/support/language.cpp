#include "support/language.h"

#include <algorithm>
#include <cmath>

int LanguageColumnForCode(double code) {
    if (std::isnan(code))
        return 0;
    // Codes this far out name no column either way; the bound keeps the conversion to int defined.
    const double offset = std::nearbyint(std::clamp(code, -1e9, 1e9) - 5000.0);  // halves to even
    return static_cast<int>(std::trunc(offset / 1000.0)) + 1;
}

int LanguageColumnFromResource(const QStringList& fields) {
    if (fields.size() < 4)
        return 1;
    bool ok = false;
    const double code = fields[3].trimmed().toDouble(&ok);
    return ok ? LanguageColumnForCode(code) : 1;
}
