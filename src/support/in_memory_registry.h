#pragma once

#include <QHash>
#include <QList>

#include "support/registry.h"

// A registry held in memory. Key paths and value names ignore letter case, as the real registry does.
class InMemoryRegistry final : public Registry {
public:
    void AddKey(const QString& path);
    void SetValue(const QString& path, const QString& name, quint32 type, const QByteArray& data);
    void SetString(const QString& path, const QString& name, const QString& text);  // stored with its NUL
    void SetDword(const QString& path, const QString& name, quint32 number);
    // Asking for the type and size still succeeds; reading the data returns `status`, as when the value
    // changes between the two calls.
    void FailReads(const QString& path, const QString& name, long status);
    int OpenKeyCount() const { return static_cast<int>(open_.size()); }
    // As for a normal user: opening a key with more than read rights is refused.
    void RefuseWriteAccess() { readOnly_ = true; }
    QList<quint32> AccessRequested() const { return access_; }  // every OpenKey's rights, in order

    long OpenKey(const QString& path, quint32 access, quintptr* key) override;
    long QueryValue(quintptr key, const QString& name, quint32* type, QByteArray* data,
                    quint32* size) override;
    void CloseKey(quintptr key) override;
    long EnumSubKey(quintptr key, quint32 index, QString* name) override;
    long EnumValue(quintptr key, quint32 index, QString* name) override;

private:
    struct Value {
        QString name;  // as it was set
        quint32 type = 0;
        QByteArray data;
        long readStatus = RegistryOk;
    };
    using Key = QHash<QString, Value>;

    Value& ValueAt(const QString& path, const QString& name);

    QHash<QString, Key> keys_;
    QHash<QString, QString> keyNames_;  // as they were added
    QHash<quintptr, QString> open_;
    quintptr nextHandle_ = 0x1000;
    bool readOnly_ = false;
    QList<quint32> access_;
};
