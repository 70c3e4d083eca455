#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <optional>

namespace orva {

// The application's user defaults: a string-keyed store of strings, Booleans and
// numbers that survives restarts and is shared by every window. Every write is announced
// through `valueChanged`, so each window can follow settings another window changed.
class SettingsStore : public QObject {
    Q_OBJECT

public:
    ~SettingsStore() override = default;
    // Absent when the key was never written.
    virtual std::optional<QVariant> value(const QString &key) const = 0;
    virtual void setValue(const QString &key, const QVariant &value) = 0;

signals:
    void valueChanged(const QString &key);
};

} // namespace orva
