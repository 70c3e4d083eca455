#pragma once

#include <QString>

namespace orva {

// One label/value row of the metadata overlay.
struct MetadataEntry {
    QString label;
    QString value;
    friend bool operator==(const MetadataEntry &, const MetadataEntry &) = default;
};

} // namespace orva
