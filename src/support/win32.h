#pragma once

// What the *_windows.cpp files share; Windows only.

#include <windows.h>

#include <QString>

// The system's words for a Win32 error code, with the code: the one way every Windows message names an error
// (qt_error_string reads some codes as errno values, and errno is a different numbering).
inline QString Win32ErrorText(DWORD code) {
    wchar_t* words = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<LPWSTR>(&words), 0, nullptr);
    const QString text =
        length > 0 ? QString::fromWCharArray(words, static_cast<qsizetype>(length)).trimmed() : QString();
    LocalFree(words);
    const QString number = QStringLiteral("error %1").arg(code);
    return text.isEmpty() ? number : text + QStringLiteral(" (") + number + u')';
}

inline QString LastWin32ErrorText() {
    return Win32ErrorText(GetLastError());
}

// Wine, which answers some documented settings otherwise than Windows does.
inline bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
