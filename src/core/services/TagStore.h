#pragma once

#include <QStringList>
#include <QUrl>

#include <optional>

namespace orva {

// The colour-tag names a file carries.
class TagStore {
public:
    virtual ~TagStore() = default;
    // Empty when the file has none or they cannot be read.
    virtual QStringList readTags(const QUrl &url) const = 0;
    // Replaces the file's tags; the system's error text when that fails.
    virtual std::optional<QString> writeTags(const QUrl &url, const QStringList &tags) = 0;
};

} // namespace orva
