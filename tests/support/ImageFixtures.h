#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orva::test {

// Quadrants red, green / blue, white, so that orientation mistakes show.
QImage quadrants(int width, int height, QImage::Format format = QImage::Format_RGB32);
// Colour names of the four corners, clockwise from top-left: "RGWB" for quadrants() upright.
QString cornerColours(const QImage &image);

bool writeImage(const QString &path, const QImage &image, const char *format, int quality = -1);
bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);
// `v` as `bytes` bytes, big- or little-endian.
QByteArray be(quint64 v, int bytes);
QByteArray le(quint64 v, int bytes);

// Exif through Exiv2: tags by key ("Exif.Image.Make") and value text, which Exiv2 parses as
// the tag's type. A tag in `longs` is stored as a LONG instead: an orientation some readers
// skip, or a number where text belongs.
bool setExifTags(const QString &path, const std::map<std::string, std::string> &tags,
                 const std::map<std::string, quint32> &longs = {});
bool setExifThumbnail(const QString &path, const QImage &thumbnail);

// Animated GIF with delays in centiseconds; loopCount as Netscape stores it (0 = forever),
// or -1 to write no loop extension.
bool writeGif(const QString &path, const QList<QImage> &frames, const QList<int> &delaysCs,
              int loopCount = 0);
bool writeAnimatedWebp(const QString &path, const QList<QImage> &frames,
                       const QList<int> &delaysMs);
// TIFF pages through libtiff, by default 8-bit RGB. Wider samples are 32-bit integers or
// 64-bit floats; `layout` "grey", "white" (grey stored MinIsWhite), "alpha" (a half-opaque
// alpha sample), "tiled" (each sample in its own plane of 16x16 tiles) or "cfa" (a minimal
// uncompressed DNG of RGGB sensor data in one strip, 4 pixels of it outside ActiveArea).
bool writeTiff(const QString &path, const QList<QImage> &pages, int sampleFormat = 1, int bits = 8,
               const QByteArray &layout = {});
// HEIC (or AVIF) at 8 or 10 bits, with an optional thumbnail; a 16-bit image gives its own
// values. `hdrTransfer` (16 = PQ, 18 = HLG) declares BT.2020 primaries and that transfer in
// the nclx colour box. `exif` is an Exif item's payload ("Exif\0\0" and the TIFF structure).
bool writeHeif(const QString &path, const QImage &image, int bitDepth, bool avif = false,
               int thumbnailSide = 0, int hdrTransfer = 0, const QByteArray &exif = {});
// Where the top-level ISO box `type` of a HEIF file ends (0 when missing).
qsizetype boxEnd(const QByteArray &file, const char *type);

// PNG files chunk by chunk (CRCs filled in), so that tests can damage them past the framing.
struct PngChunk {
    QByteArray type, data;
};
using PngChunks = std::vector<PngChunk>;
QByteArray pngFile(const PngChunks &chunks);
QByteArray pngIhdr(QSize size, int colourType, bool interlaced = false);
QByteArray pngIdat(const QImage &image); // unfiltered 8-bit RGBA rows

// An APNG frame: its delay is num/den seconds; dispose and blend as the file stores them.
struct PngFrame {
    QImage image;
    quint16 num = 1, den = 10;
    QPoint at = {};
    quint8 dispose = 0, blend = 0;
};
// Frame 0 is the default image unless a hidden one is given; the first frame's colour space
// becomes the file's profile.
PngChunks apngChunks(const QList<PngFrame> &frames, quint32 plays = 0,
                     const std::optional<QImage> &hidden = {}, QSize canvas = {});

// A Photoshop file: `planes` hold `height` rows of big-endian samples each; compression 1
// packs them as PackBits rows.
struct Psd {
    int width, height, depth, mode;
    std::vector<QByteArray> planes;
    QByteArray layers = {};
    int version = 1, compression = 0;
    QByteArray modeData = {}, resources = {};
    QByteArray bytes() const;
};

} // namespace orva::test
