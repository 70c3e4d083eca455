#include "platform/settings/QSettingsStore.h"

namespace orva {

QSettingsStore::QSettingsStore()
    : settings_(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Orva"),
                QStringLiteral("Orva"))
{
}

QSettingsStore::QSettingsStore(const QString &iniPath) : settings_(iniPath, QSettings::IniFormat) {}

std::optional<QVariant> QSettingsStore::value(const QString &key) const
{
    if (!settings_.contains(key))
        return std::nullopt;
    return settings_.value(key);
}

void QSettingsStore::setValue(const QString &key, const QVariant &value)
{
    settings_.setValue(key, value);
    emit valueChanged(key);
}

void QSettingsStore::sync() { settings_.sync(); }

} // namespace orva
