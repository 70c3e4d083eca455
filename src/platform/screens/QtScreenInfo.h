#pragma once

#include "core/services/ScreenInfo.h"

namespace orva {

// The screens as Qt sees them; none without a QGuiApplication.
class QtScreenInfo final : public ScreenInfo {
public:
    QList<ScreenGeometry> screens() const override;
};

} // namespace orva
