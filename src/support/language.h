#pragma once

#include <QString>
#include <QStringList>

// The text database column for a language code: (code - 5000) rounded, divided by 1000 truncating toward
// zero, plus 1. So 5000 gives 1, 6000..6999 give 2, 4500 gives 1 and 4000 gives 0 (the id column itself).
int LanguageColumnForCode(double code);

// From the fields of string resource 201: field 4 holds the code; without it, or when it is not a number,
// column 1.
int LanguageColumnFromResource(const QStringList& fields);
