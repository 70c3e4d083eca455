#pragma once

#include "core/settings/SettingsStore.h"

#include <QSettings>

namespace orva {

// User defaults in ~/.config/Orva/Orva.ini (INI), shared by every window.
class QSettingsStore final : public SettingsStore {
public:
    QSettingsStore();
    // An explicit file, for tools and tests of this class.
    explicit QSettingsStore(const QString &iniPath);

    std::optional<QVariant> value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;
    void sync();

private:
    mutable QSettings settings_;
};

} // namespace orva
