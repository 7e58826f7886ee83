#include "support/in_memory_registry.h"

#include <QtEndian>

void InMemoryRegistry::AddKey(const QString& path) {
    keys_[path.toLower()];
}

InMemoryRegistry::Value& InMemoryRegistry::ValueAt(const QString& path, const QString& name) {
    return keys_[path.toLower()][name.toLower()];
}

void InMemoryRegistry::SetValue(const QString& path, const QString& name, quint32 type,
                                const QByteArray& data) {
    Value& value = ValueAt(path, name);
    value.type = type;
    value.data = data;
}

void InMemoryRegistry::SetString(const QString& path, const QString& name, const QString& text) {
    SetValue(path, name, RegistryString, text.toLocal8Bit() + QByteArray(1, '\0'));
}

void InMemoryRegistry::SetDword(const QString& path, const QString& name, quint32 number) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(number, bytes.data());
    SetValue(path, name, RegistryDword, bytes);
}

void InMemoryRegistry::FailReads(const QString& path, const QString& name, long status) {
    ValueAt(path, name).readStatus = status;
}

long InMemoryRegistry::OpenKey(const QString& path, quint32 access, quintptr* key) {
    access_ << access;
    if (readOnly_ && (access & ~RegistryKeyRead) != 0)
        return RegistryAccessDenied;
    const QString folded = path.toLower();
    if (!keys_.contains(folded))
        return RegistryNotFound;
    *key = nextHandle_++;
    open_.insert(*key, folded);
    return RegistryOk;
}

long InMemoryRegistry::QueryValue(quintptr key, const QString& name, quint32* type, QByteArray* data,
                                  quint32* size) {
    const auto path = open_.constFind(key);
    if (path == open_.constEnd())
        return RegistryInvalidHandle;
    const auto values = keys_.constFind(*path);
    if (values == keys_.constEnd())
        return RegistryNotFound;
    const auto found = values->constFind(name.toLower());
    if (found == values->constEnd())
        return RegistryNotFound;
    *type = found->type;
    *size = static_cast<quint32>(found->data.size());
    if (data == nullptr)
        return RegistryOk;
    if (found->readStatus != RegistryOk)
        return found->readStatus;
    if (data->size() < found->data.size())
        return RegistryMoreData;
    *data = found->data;
    return RegistryOk;
}

void InMemoryRegistry::CloseKey(quintptr key) {
    open_.remove(key);
}
