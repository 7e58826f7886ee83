#include "support/windows_version.h"

// GetWindowsVersion: windows_version_windows.cpp.

QString WindowsFamily(quint32 platformId, quint32 major, quint32 minor) {
    switch (platformId) {
        case 0:  // Win32s is reported with the NT family
        case 2:
            return QStringLiteral("WindowsNT");
        case 1:
            if (major < 4 || (major == 4 && minor == 0))
                return QStringLiteral("Windows95");
            return QStringLiteral("Windows98");
        default:
            return QString();
    }
}
