#pragma once

#include <QString>
#include <QStringList>

// The text database column for a language code: (code - 5000) rounded, divided by 1000 truncating toward
// zero, plus 1. So 5000 gives 1, 6000..6999 give 2, 4500 gives 1 and 4000 gives 0 (the id column itself).
int LanguageColumnForCode(double code);

// The start-up string resource, read once: "firmware file | (unused) | program to start at close | language
// code".
struct StartupSettings {
    QString firmwareFile;
    QString programOnClose;
    int languageColumn = 1;  // without a code, or when it is not a number, column 1
};
StartupSettings ParseStartupSettings(const QString& resource);
