#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <map>
#include <string>

namespace orva::test {

// An image whose four quadrants have different colours (red top-left, green top-right,
// blue bottom-left, white bottom-right), so that orientation mistakes show.
QImage quadrants(int width, int height, QImage::Format format = QImage::Format_RGB32);

// Colour names of the four corners, clockwise from top-left: "RGBW" for quadrants() upright.
QString cornerColours(const QImage &image);

bool writeImage(const QString &path, const QImage &image, const char *format, int quality = -1);

// Exif through Exiv2: tags given by key ("Exif.Image.Make") and value text.
bool setExifTags(const QString &path, const std::map<std::string, std::string> &tags);
bool setExifThumbnail(const QString &path, const QImage &thumbnail);
// The Exif orientation stored as a LONG, a valid encoding some readers skip.
bool setExifOrientationAsLong(const QString &path, int orientation);

// A minimal uncompressed DNG of 16-bit RGGB sensor data sampled from `image`. `sensor`
// decides what is left of the data, as in camera files stripped for their metadata: all
// of it, a strip that says it holds a few bytes, or a strip past the end of the file.
enum class DngSensor { present, cut, missing };
bool writeDng(const QString &path, const QImage &image, DngSensor sensor);

// Animated GIF with delays in centiseconds; loopCount as Netscape stores it (0 = forever),
// or -1 to write no loop extension.
bool writeGif(const QString &path, const QList<QImage> &frames, const QList<int> &delaysCs,
              int loopCount = 0);
bool writeAnimatedWebp(const QString &path, const QList<QImage> &frames, const QList<int> &delaysMs,
                       int loopCount = 0);
bool writeTiffPages(const QString &path, const QList<QImage> &pages);
// HEIC (or AVIF) through libheif's encoders, at 8 or 10 bits, with an optional thumbnail.
// A 16-bit image gives its own 16-bit values. With `hdrTransfer` (16 = PQ, 18 = HLG) the
// file declares BT.2020 primaries and that transfer in its nclx colour box.
bool writeHeif(const QString &path, const QImage &image, int bitDepth, bool avif = false,
               int thumbnailSide = 0, int hdrTransfer = 0);
// An animated PNG of equally sized full-canvas frames.
QByteArray buildApng(const QList<QImage> &frames, const QList<int> &delaysMs, int numPlays = 0);

} // namespace orva::test
