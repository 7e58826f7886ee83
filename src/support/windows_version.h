#pragma once

#include <QString>
#include <QtGlobal>

// "WindowsNT", "Windows95", "Windows98", or "" for a platform id not listed.
QString WindowsFamily(quint32 platformId, quint32 major, quint32 minor);

#ifdef Q_OS_WIN
QString GetWindowsVersion();
#endif
