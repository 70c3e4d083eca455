#pragma once

#include <QImage>

namespace orva {

// A copy of decoded pixels ready to draw: 8-bit sRGB, RGB32 or (with alpha)
// ARGB32_Premultiplied. Deep pixels (16-bit, float) are converted to sRGB while still deep
// and only then reduced to 8 bits, so that a linear-light or wide-gamut file keeps smooth
// shadows. Values above 1.0 (high dynamic range, float files) are rolled off into the
// display range rather than clipped. The decoded image itself is never changed.
QImage toDisplayPixels(const QImage &bitmap);

} // namespace orva
