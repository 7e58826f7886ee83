#include "support/in_memory_registry.h"

#include <QtEndian>

void InMemoryRegistry::AddKey(const QString& path) {
    // With every key above it, as in the real registry.
    for (qsizetype end = path.indexOf(u'\\'); end >= 0; end = path.indexOf(u'\\', end + 1)) {
        keys_[path.left(end).toLower()];
        keyNames_.insert(path.left(end).toLower(), path.left(end));
    }
    keys_[path.toLower()];
    keyNames_.insert(path.toLower(), path);
}

InMemoryRegistry::Value& InMemoryRegistry::ValueAt(const QString& path, const QString& name) {
    AddKey(path);
    Value& value = keys_[path.toLower()][name.toLower()];
    value.name = name;
    return value;
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

long InMemoryRegistry::EnumSubKey(quintptr key, quint32 index, QString* name) {
    const auto path = open_.constFind(key);
    if (path == open_.constEnd())
        return RegistryInvalidHandle;
    // Every key added below this one gives its first step a subkey, in the order of their names.
    QStringList below;
    const QString prefix = *path + u'\\';
    for (auto it = keyNames_.constBegin(); it != keyNames_.constEnd(); ++it) {
        if (!it.key().startsWith(prefix))
            continue;
        const QString step = it.value().mid(prefix.size()).section(u'\\', 0, 0);
        if (!below.contains(step, Qt::CaseInsensitive))
            below << step;
    }
    below.sort(Qt::CaseInsensitive);
    if (index >= static_cast<quint32>(below.size()))
        return RegistryNoMoreItems;
    *name = below.at(index);
    return RegistryOk;
}

long InMemoryRegistry::EnumValue(quintptr key, quint32 index, QString* name) {
    const auto path = open_.constFind(key);
    if (path == open_.constEnd())
        return RegistryInvalidHandle;
    QStringList names;
    for (const Value& value : keys_.value(*path))
        names << value.name;
    names.sort(Qt::CaseInsensitive);
    if (index >= static_cast<quint32>(names.size()))
        return RegistryNoMoreItems;
    *name = names.at(index);
    return RegistryOk;
}
