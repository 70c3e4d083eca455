#pragma once

#include <QImage>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

class QIODevice;

namespace orva {

// Debian's Qt 6 has no Photoshop plugin, so Orva reads the flattened composite ("merged image
// data") that Photoshop stores after the layers of a .psd or .psb file. Layers are never
// composited: a file saved without a composite shows whatever Photoshop put there.

struct PsdHeader {
    int width = 0;
    int height = 0;
    int channels = 0; // stored channels, colour and extra ones
    int depth = 0;    // bits per channel: 1, 8, 16 or 32
    // 0 bitmap, 1 gray, 2 indexed, 3 RGB, 4 CMYK, 7 multichannel, 8 duotone, 9 Lab
    int colorMode = 0;
    bool isLargeDocument = false; // PSB
};

// The 26-byte header at the device's current position; absent unless it is well formed (known
// signature, version, depth and colour mode, sides within the PSD or PSB bounds, enough
// channels for the colour mode). Reads nothing more and allocates no pixels, so properties can
// report files the composite reader refuses.
std::optional<PsdHeader> readPsdHeader(QIODevice &device);

// "RGB" (RGB, indexed), "Gray" (gray, bitmap, duotone), "CMYK" or "Lab"; empty otherwise.
QString psdColorModelName(int colorMode);

// Checked against the header before the image is allocated.
struct PsdLimits {
    qint64 maxPixels = 100'000'000;
    qint64 maxBytes = 1024LL * 1024 * 1024; // the decoded QImage, and the samples read
};

// The composite of the file starting at the device's current position (random-access or
// sequential), in its own depth:
//   RGB         8: RGB32 / ARGB32   16: RGBX64 / RGBA64   32: RGBX32FPx4 / RGBA32FPx4
//   gray, duotone
//               8: Grayscale8 / ARGB32   16: Grayscale16 / RGBA64   32: RGBX32FPx4 / RGBA32FPx4
//   multichannel  its first channel, as gray
//   indexed     8: Indexed8 with the file's palette (its transparency index becomes transparent)
//   bitmap      1: Mono (white 0, black 1)
//   CMYK     8/16: RGB32 / ARGB32 or RGBX64 / RGBA64, naively R = C'K'/max, G = M'K'/max,
//                  B = Y'K'/max with C', M', Y', K' as stored (inverted: max means no ink)
//   Lab      8/16: sRGB (D50 Lab to D65 through Bradford), same formats as CMYK
// The alpha variant is used only when the file flags its first extra channel as the
// composite's transparency (a negative layer count); other extra channels are saved selections
// or spot colours and are ignored. 32-bit data is linear light and is tagged so; RGB and
// indexed images carry the embedded ICC profile when Qt can read it.
// Absent for ZIP-compressed data, other depth and mode combinations, truncation, corruption,
// work beyond `limits`, or when `isCancelled` (may be empty, checked between channels and
// blocks of rows) returns true.
std::optional<QImage> readPsdComposite(QIODevice &device, const PsdLimits &limits = {},
                                       const std::function<bool()> &isCancelled = {});

} // namespace orva
