#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QtGlobal>

// Value types and status codes, numbered as the Windows registry numbers them.
constexpr quint32 RegistryString = 1;
constexpr quint32 RegistryBinary = 3;
constexpr quint32 RegistryDword = 4;
constexpr long RegistryOk = 0;
constexpr long RegistryNotFound = 2;
constexpr long RegistryInvalidHandle = 6;
constexpr long RegistryMoreData = 234;
constexpr long RegistryAccessDenied = 5;
constexpr long RegistryNoMoreItems = 259;
// Access rights asked for when a key is opened. A normal user may read the system's keys, not write them.
constexpr quint32 RegistryKeyRead = 0x20019;
constexpr quint32 RegistryKeyAllAccess = 0xF003F;

// Read-only access to HKEY_LOCAL_MACHINE; tests use InMemoryRegistry.
class Registry {
public:
    virtual ~Registry() = default;
    // Opens HKEY_LOCAL_MACHINE\path with the access rights asked for; returns 0 or a registry error code.
    virtual long OpenKey(const QString& path, quint32 access, quintptr* key) = 0;
    // data == nullptr asks for the type and byte count only. Otherwise data->size() is the room on entry; a
    // value that does not fit gives RegistryMoreData and leaves data alone, one that fits replaces data.
    // *size is the value's byte count either way.
    virtual long QueryValue(quintptr key, const QString& name, quint32* type, QByteArray* data,
                            quint32* size) = 0;
    virtual void CloseKey(quintptr key) = 0;
    // The name of an open key's index-th subkey, or of its index-th value; RegistryNoMoreItems past the last.
    virtual long EnumSubKey(quintptr key, quint32 index, QString* name) = 0;
    virtual long EnumValue(quintptr key, quint32 index, QString* name) = 0;
};

// Returns 0, a registry error code, or -1 for a type other than string, byte data or 32-bit number. A string
// keeps its terminating NUL; callers cut at the first NUL. value is untouched by a failure, except that a
// string whose read fails leaves it empty. Only status 0 makes value meaningful.
long QueryRegistryValue(Registry& registry, quintptr key, const QString& valueName, QVariant& value);

// The system's registry; on Windows only (registry_windows.cpp).
class WinRegistry final : public Registry {
public:
    long OpenKey(const QString& path, quint32 access, quintptr* key) override;
    long QueryValue(quintptr key, const QString& name, quint32* type, QByteArray* data,
                    quint32* size) override;
    void CloseKey(quintptr key) override;
    long EnumSubKey(quintptr key, quint32 index, QString* name) override;
    long EnumValue(quintptr key, quint32 index, QString* name) override;
};
