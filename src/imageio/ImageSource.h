#pragma once

#include "imageio/ImageFormats.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>

namespace orva {

// What the decoders' headers say about a file, read without decoding pixels.
struct ImageSource {
    QString path;
    QString mimeType;
    DecoderKind kind = DecoderKind::qt;
    QSize storedSize; // frame 0 as stored; invalid when the header gives none
    QSize sensorSize; // camera raw: the whole stored sensor, margins included
    // EXIF-style 1..8: the one value decoding applies, properties report and rotation
    // rewrites (Exiv2's reading of the Exif tag; a HEIF file's own boxes; LibRaw's for raw).
    int orientation = 1;
    int frameCount = 1;
    bool animated = false; // decoded as a multi-frame image
    QByteArray qtFormat;   // the Qt plugin's format name, for files Qt reads
};

// Opens the file's header; absent when no decoder recognises it.
std::optional<ImageSource> openImageSource(const QString &path);

// The size after orientation: absent without a positive stored width and height;
// orientations 5 to 8 swap the sides.
std::optional<QSize> orientedPixelSize(const ImageSource &source);

// Orientations 5 to 8 turn the image a quarter.
inline bool swapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

} // namespace orva
