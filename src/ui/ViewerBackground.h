#pragma once

#include "core/model/Enums.h"

#include <QPainter>
#include <QRect>

namespace orva::viewer {

// Paints a viewer window's background style into `area`. The blurred style draws its
// black base (the blurred thumbnail arrives with the thumbnail cache).
void paintBackground(QPainter &painter, const QRect &area, BackgroundStyle style);

} // namespace orva::viewer
