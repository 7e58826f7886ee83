#pragma once

#include <QLocale>
#include <QString>

// The program's string resources by number, in the variant of the user's language. Every variant carries the
// same values in this build; the table keeps the variants so that a build can give each language its own.
enum StringResourceId : int {
    ResourceStartup = 201,           // firmware file | (unused) | program to start at close | language code
    ResourceDeviceVersions = 20001,  // five fields; the fifth is the lowest updatable DC version
};

int ResourceLocaleFor(const QLocale& locale);  // the variant for a UI language; English when none fits
QString LoadStringResource(int id, int localeId);
QString LoadStringResource(int id);  // in the variant of the user's UI language
