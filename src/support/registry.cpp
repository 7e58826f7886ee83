#include "support/registry.h"

#include <QtEndian>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

long QueryRegistryValue(Registry& registry, quintptr key, const QString& valueName, QVariant& value) {
    quint32 type = 0;
    quint32 size = 0;
    long status = registry.QueryValue(key, valueName, &type, nullptr, &size);
    if (status != RegistryOk)
        return status;

    switch (type) {
        case RegistryString: {
            QByteArray buffer(static_cast<qsizetype>(size), '\0');
            status = registry.QueryValue(key, valueName, &type, &buffer, &size);
            if (status != RegistryOk) {
                value = QVariant();
                return status;
            }
            value = QString::fromLocal8Bit(buffer.left(static_cast<qsizetype>(size)));
            return RegistryOk;
        }
        case RegistryBinary:
        case RegistryDword: {
            // Only a 32-bit integer receives the value; anything longer would overrun it.
            if (size > 4)
                return RegistryMoreData;
            QByteArray buffer(static_cast<qsizetype>(size), '\0');
            status = registry.QueryValue(key, valueName, &type, &buffer, &size);
            if (status != RegistryOk)
                return status;
            buffer.append(QByteArray(4 - qMin<qsizetype>(buffer.size(), 4), '\0'));
            value = qFromLittleEndian<qint32>(buffer.constData());
            return RegistryOk;
        }
        default:
            return -1;
    }
}

#ifdef Q_OS_WIN

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

#endif
