#pragma once

#include <QString>
#include <QtGlobal>

// "WindowsNT", "Windows95", "Windows98", or "" for a platform id not listed.
QString WindowsFamily(quint32 platformId, quint32 major, quint32 minor);

// The family of the running Windows; on Windows only (windows_version_windows.cpp).
QString GetWindowsVersion();
