#include "support/registry.h"

#include <QtEndian>

// WinRegistry, the real one: registry_windows.cpp.

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
