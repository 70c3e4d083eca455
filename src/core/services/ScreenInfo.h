#pragma once

#include <QList>
#include <QSizeF>

namespace orva {

// The screens attached now: their size in points and backing scale factor.
struct ScreenGeometry {
    QSizeF size;
    double scale = 1.0;
};

class ScreenInfo {
public:
    virtual ~ScreenInfo() = default;
    virtual QList<ScreenGeometry> screens() const = 0;
};

} // namespace orva
