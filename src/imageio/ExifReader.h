#pragma once

#include "core/model/ImageProperties.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace orva {

// The Exif, TIFF and GPS values Orva shows or sorts by, as stored.
struct ExifProperties {
    std::optional<int> orientation;
    std::optional<int> bitsPerSample;
    std::optional<int> photometricInterpretation;
    std::optional<int> pixelWidth; // from the Exif or TIFF header, as stored
    std::optional<int> pixelHeight;

    std::optional<TiffProperties> tiff;
    std::optional<ExifCaptureProperties> exif;
    std::optional<GpsProperties> gps;
};

// Reads the metadata of a file with Exiv2; absent when Exiv2 cannot read it (including
// every error Exiv2 raises on broken input).
std::optional<ExifProperties> readExifProperties(const QString &path);

// The Exif orientation (1 to 8) as Exiv2 reads it, whatever type the tag was stored with;
// absent when the file has none or Exiv2 cannot read the file.
std::optional<int> readExifOrientation(const QString &path);

// The thumbnail embedded in the Exif block (usually a small JPEG), if any.
std::optional<QByteArray> exifThumbnailData(const QString &path);

// Sets Exiv2 up for use from several threads at once. Idempotent.
void initializeExiv2();

} // namespace orva
