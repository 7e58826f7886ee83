#include "support/windows_version.h"

#include <windows.h>

QString GetWindowsVersion() {
    OSVERSIONINFOA info = {};
    static_assert(sizeof(OSVERSIONINFOA) == 148);
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExA(&info);
    return WindowsFamily(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}
