#include "support/registry.h"

#include <iterator>

#include <windows.h>

// Names go through the wide functions: the ANSI ones would turn a name outside the system's code page into
// question marks.

namespace {

LPCWSTR Wide(const QString& text) {
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

}  // namespace

long WinRegistry::OpenKey(const QString& path, quint32 access, quintptr* key) {
    HKEY handle = nullptr;
    const LONG status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(path), 0, static_cast<REGSAM>(access), &handle);
    if (status == ERROR_SUCCESS)
        *key = reinterpret_cast<quintptr>(handle);
    return status;
}

long WinRegistry::QueryValue(quintptr key, const QString& name, quint32* type, QByteArray* data,
                             quint32* size) {
    // The whole value, whatever the room: a string's size is known only once it is in the 8-bit form that
    // Registry hands out.
    DWORD valueType = 0;
    QByteArray value;
    LONG status = ERROR_MORE_DATA;
    for (DWORD bytes = 256; status == ERROR_MORE_DATA;) {
        value.resize(static_cast<qsizetype>(bytes));
        status = RegQueryValueExW(reinterpret_cast<HKEY>(key), Wide(name), nullptr, &valueType,
                                  reinterpret_cast<BYTE*>(value.data()), &bytes);
        if (status == ERROR_SUCCESS)
            value.resize(static_cast<qsizetype>(bytes));
    }
    if (status != ERROR_SUCCESS)
        return status;
    if (valueType == REG_SZ || valueType == REG_EXPAND_SZ) {
        const auto* text = reinterpret_cast<const char16_t*>(value.constData());
        value = QString::fromUtf16(text, value.size() / 2).toLocal8Bit();
    }
    *type = valueType;
    *size = static_cast<quint32>(value.size());
    if (data == nullptr)
        return ERROR_SUCCESS;
    if (value.size() > data->size())
        return ERROR_MORE_DATA;
    *data = value;
    return ERROR_SUCCESS;
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
