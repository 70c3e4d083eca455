#pragma once

#include "core/model/DecodedImage.h"

#include <QImage>

#include <cstdint>
#include <optional>

namespace orva {

// Quarter turns count clockwise; every operation keeps only the two lowest bits, so -1 is
// one counter-clockwise turn.
inline int normalizedQuarterTurns(int quarterTurns) { return quarterTurns & 3; }

// The pixels turned by whole quarter turns, keeping the pixel format (16-bit and float
// bitmaps keep their depth), colour space, colour table and text. Absent for a null
// bitmap or one that cannot be allocated.
std::optional<QImage> rotateBitmap(const QImage &bitmap, int quarterTurns);

// The still image on screen turned: an animated image gives its first frame turned. Point
// size swaps for odd turns; the resolution is kept. Absent when nothing can be rotated.
std::optional<DecodedImage> rotateDecodedImage(const DecodedImage &image, int quarterTurns);

// The Exif orientation (1..8) of the same stored pixels shown turned clockwise; other
// values come back unchanged.
std::uint32_t rotatedOrientation(std::uint32_t orientation, int quarterTurns);

} // namespace orva
