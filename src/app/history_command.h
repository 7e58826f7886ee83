#pragma once

#include <QString>
#include <iosfwd>

// --history: the update history at `path`, newest first, as a table or (json) as one JSON array; `serial`,
// when given, keeps one DC's attempts. Exit status 0, an empty or missing history included.
int PrintHistory(const QString& path, const QString& serial, bool json, std::ostream& out, std::ostream& err);
