#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QSize>

#include <functional>
#include <optional>
#include <vector>

class QIODevice;

namespace orva {

// Qt's PNG plugin returns only the default image of an animated PNG and the system libpng
// knows nothing of APNG, so the frames are reassembled here: each frame's compressed data
// becomes a standalone PNG that Qt decodes, then it is composited onto the canvas.

// One frame as it is shown: the whole canvas, Format_ARGB32_Premultiplied.
struct ApngFrame {
    QImage image;
    int delayMs = 0; // a delay that rounds to 0 ms becomes 100 ms, as Qt reports GIF delays
};

struct ApngAnimation {
    QSize canvas;
    std::vector<ApngFrame> frames;
    int loopCount = -1; // -1 loops forever; otherwise the extra plays after the first
};

// Work bounds, checked against the header before anything is allocated.
struct ApngLimits {
    qint64 maxCanvasPixels = 100'000'000;
    qint64 maxTotalBytes = 1024LL * 1024 * 1024; // frames * canvas pixels * 4
    int maxFrames = 10000;
};

// True when an acTL chunk announcing at least two frames precedes the first IDAT. `head`
// may hold only the start of the file.
bool isAnimatedPng(const QByteArray &head);
// The same check on an open device, from its current position, which is left unchanged.
// Random-access devices are walked chunk by chunk; sequential ones are judged from the
// first 64 KiB.
bool isAnimatedPng(QIODevice &device);

// Decodes and composites every frame of an animated PNG. Absent for a file without acTL
// (a plain PNG, which Qt decodes itself), on any structural or CRC error, truncation,
// frame outside the canvas, fewer or more frames than acTL announces, a frame Qt cannot
// decode, work beyond `limits`, or when `isCancelled` (checked before each frame) fires.
// An acTL with one frame yields that one frame.
std::optional<ApngAnimation> readApng(const QByteArray &file, const ApngLimits &limits = {},
                                      const std::function<bool()> &isCancelled = {});

// One chunk of a PNG file as stored: its type (the four letters, big-endian), payload, and
// the whole record (length, type, payload, CRC).
struct PngChunkView {
    quint32 type = 0;
    QByteArrayView data;
    QByteArrayView raw;
};

// The chunk at `pos` of a PNG file, advancing past it; absent when it is truncated,
// malformed or fails its CRC.
std::optional<PngChunkView> readPngChunk(QByteArrayView bytes, qsizetype &pos);

} // namespace orva
