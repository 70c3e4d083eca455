#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace orva {

// The Exif, TIFF and GPS values Orva shows or sorts by, as stored. Each group is present
// only when the file has any tag of it; within a group a missing or mistyped tag is absent.
struct ExifProperties {
    std::optional<int> orientation;
    std::optional<int> bitsPerSample;
    std::optional<int> photometricInterpretation;
    std::optional<int> pixelWidth; // from the Exif or TIFF header, as stored
    std::optional<int> pixelHeight;

    struct Tiff {
        std::optional<QString> make;
        std::optional<QString> model;
    };
    struct Exif {
        std::optional<QString> dateTimeOriginal;
        std::optional<double> focalLength;
        std::optional<double> fNumber;
        std::optional<double> exposureTime;
        std::optional<QList<int>> isoSpeedRatings;
        std::optional<QString> lensModel;
    };
    struct Gps {
        std::optional<double> latitude; // degrees, unsigned as stored
        std::optional<QString> latitudeRef;
        std::optional<double> longitude;
        std::optional<QString> longitudeRef;
    };
    std::optional<Tiff> tiff;
    std::optional<Exif> exif;
    std::optional<Gps> gps;
};

// Reads the metadata of a file with Exiv2; absent when Exiv2 cannot read it (including
// every error Exiv2 raises on broken input).
std::optional<ExifProperties> readExifProperties(const QString &path);

// The thumbnail embedded in the Exif block (usually a small JPEG), if any.
std::optional<QByteArray> exifThumbnailData(const QString &path);

// Sets Exiv2 up for use from several threads at once. Idempotent.
void initializeExiv2();

} // namespace orva
