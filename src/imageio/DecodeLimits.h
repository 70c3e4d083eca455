#pragma once

#include <QtGlobal>

namespace orva {

// Memory bounds for one decode. Real photos need up to a few hundred megabytes (a 100 MP
// image at 16 bits per channel is 800 MB); anything above is refused before allocating.
struct DecodeLimits {
    static qint64 maxImageBytes();                         // one decoded bitmap
    static constexpr qint64 maxPixels = 1'000'000'000;     // any one image
    static constexpr qint64 maxAnimationBytes = 1LL << 30; // all frames together
    static constexpr int maxSide = 1 << 20;
};

// Sets the process-wide limits of the decoders (Qt's allocation limit, Exiv2's logging)
// once; every decode entry point calls it, so callers need not.
void initializeImageIO();

} // namespace orva
