#pragma once

#include "core/services/TagStore.h"

#include <optional>

namespace orva {

// Tags kept the way Linux file managers keep them: the extended attribute
// user.xdg.tags holding comma-separated names.
class XattrTagStore final : public TagStore {
public:
    QStringList readTags(const QUrl &url) const override;
    std::optional<QString> writeTags(const QUrl &url, const QStringList &tags) override;
};

// Replaces the file's tags; an empty list removes the attribute. Returns the system's
// error text (for example "Operation not supported") when that fails. Names are
// trimmed and empty ones dropped; a comma inside a name cannot be stored and ends up
// splitting it.
std::optional<QString> writeTags(const QUrl &url, const QStringList &tags);

} // namespace orva
