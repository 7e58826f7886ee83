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

StartupSettings ParseStartupSettings(const QString& resource) {
    const QStringList fields = resource.split(QLatin1Char('|'));
    StartupSettings settings;
    settings.firmwareFile = fields.value(0);
    settings.programOnClose = fields.value(2);
    bool ok = false;
    const double code = fields.value(3).trimmed().toDouble(&ok);
    if (ok)
        settings.languageColumn = LanguageColumnForCode(code);
    return settings;
}
