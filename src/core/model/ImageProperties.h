#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace orva {

// Camera values of a file as stored. A group is present when the file has any tag of it;
// within a group a missing or mistyped value is absent.
struct TiffProperties {
    std::optional<QString> make;
    std::optional<QString> model;
};

struct ExifCaptureProperties {
    std::optional<QString> dateTimeOriginal;
    std::optional<double> focalLength;
    std::optional<double> fNumber;
    std::optional<double> exposureTime;
    std::optional<QList<int>> isoSpeedRatings;
    std::optional<QString> lensModel;
};

struct GpsProperties {
    std::optional<double> latitude; // degrees, unsigned as stored
    std::optional<QString> latitudeRef;
    std::optional<double> longitude;
    std::optional<QString> longitudeRef;
};

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
    std::optional<TiffProperties> tiff;
    std::optional<ExifCaptureProperties> exif;
    std::optional<GpsProperties> gps;
};

} // namespace orva
