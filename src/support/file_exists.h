#pragma once

#include <QString>

// True for an existing ordinary file that is visible: folders and hidden files do not count.
bool FileExists(const QString& path);
