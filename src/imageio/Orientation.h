#pragma once

#include <QImage>

namespace orva {

// Turns pixels stored with an EXIF-style orientation (1..8) upright. Other values leave
// the image as it is.
QImage applyOrientation(const QImage &image, int orientation);

} // namespace orva
