#pragma once

#include <QStringList>
#include <QUrl>

namespace orva {

// The colour-tag names a file carries.
class TagStore {
public:
    virtual ~TagStore() = default;
    // Empty when the file has none or they cannot be read.
    virtual QStringList readTags(const QUrl &url) const = 0;
};

} // namespace orva
