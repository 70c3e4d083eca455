#pragma once

#include "imageio/ExifReader.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace orva {

// The properties of frame 0 of a file, read from headers and metadata without decoding
// pixels. Any value may be missing.
struct ImageProperties {
    QString mimeType;
    std::optional<int> pixelWidth; // as stored, orientation not applied
    std::optional<int> pixelHeight;
    int orientation = 1;
    int frameCount = 1;
    std::optional<int> depth;          // bits per sample
    std::optional<QString> colorModel; // "RGB", "Gray", "CMYK" or "Lab"
    std::optional<ExifProperties::Tiff> tiff;
    std::optional<ExifProperties::Exif> exif;
    std::optional<ExifProperties::Gps> gps;
};

// Absent when no decoder recognises the file.
std::optional<ImageProperties> readImageProperties(const QUrl &url);

} // namespace orva
