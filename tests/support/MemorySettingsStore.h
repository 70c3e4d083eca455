#pragma once

#include "core/settings/SettingsStore.h"

#include <QHash>

namespace orva::test {

// User defaults held in memory; `writes` counts every setValue.
class MemorySettingsStore final : public SettingsStore {
public:
    std::optional<QVariant> value(const QString &key) const override
    {
        return values.contains(key) ? std::optional(values.value(key)) : std::nullopt;
    }
    void setValue(const QString &key, const QVariant &value) override
    {
        values.insert(key, value);
        ++writes;
        emit valueChanged(key);
    }

    QHash<QString, QVariant> values;
    int writes = 0;
};

} // namespace orva::test
