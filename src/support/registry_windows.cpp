#include "support/registry.h"

#include <iterator>

#include <windows.h>

long WinRegistry::OpenKey(const QString& path, quint32 access, quintptr* key) {
    HKEY handle = nullptr;
    const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.toLocal8Bit().constData(), 0,
                                      static_cast<REGSAM>(access), &handle);
    if (status == ERROR_SUCCESS)
        *key = reinterpret_cast<quintptr>(handle);
    return status;
}

long WinRegistry::QueryValue(quintptr key, const QString& name, quint32* type, QByteArray* data,
                             quint32* size) {
    DWORD valueType = 0;
    DWORD bytes = data != nullptr ? static_cast<DWORD>(data->size()) : 0;
    QByteArray room = data != nullptr ? QByteArray(data->size(), '\0') : QByteArray();
    const LONG status =
        RegQueryValueExA(reinterpret_cast<HKEY>(key), name.toLocal8Bit().constData(), nullptr, &valueType,
                         data != nullptr ? reinterpret_cast<BYTE*>(room.data()) : nullptr, &bytes);
    *type = valueType;
    *size = bytes;
    if (status == ERROR_SUCCESS && data != nullptr)
        *data = room.left(static_cast<qsizetype>(bytes));
    return status;
}

void WinRegistry::CloseKey(quintptr key) {
    RegCloseKey(reinterpret_cast<HKEY>(key));
}

long WinRegistry::EnumSubKey(quintptr key, quint32 index, QString* name) {
    wchar_t buffer[256];
    DWORD length = static_cast<DWORD>(std::size(buffer));
    const LONG status = RegEnumKeyExW(reinterpret_cast<HKEY>(key), index, buffer, &length, nullptr, nullptr,
                                      nullptr, nullptr);
    if (status == ERROR_SUCCESS)
        *name = QString::fromWCharArray(buffer, static_cast<qsizetype>(length));
    return status;
}

long WinRegistry::EnumValue(quintptr key, quint32 index, QString* name) {
    wchar_t buffer[16384];  // the longest value name the registry allows
    DWORD length = static_cast<DWORD>(std::size(buffer));
    const LONG status = RegEnumValueW(reinterpret_cast<HKEY>(key), index, buffer, &length, nullptr, nullptr,
                                      nullptr, nullptr);
    if (status == ERROR_SUCCESS)
        *name = QString::fromWCharArray(buffer, static_cast<qsizetype>(length));
    return status;
}
