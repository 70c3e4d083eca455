#include "imageio/QtDecoder.h"

#include "core/view/DisplayPixels.h"
#include "imageio/ApngReader.h"
#include "imageio/Backends.h"
#include "imageio/DecodeLimits.h"
#include "imageio/ExifReader.h"
#include "imageio/JpegHeader.h"
#include "imageio/Orientation.h"
#include "imageio/PngDecoder.h"
#include "imageio/TiffSamples.h"
#include "imageio/TruncatedReader.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>

#include <tiffio.h>

#include <algorithm>
#include <cmath>

namespace orva::qtdecoder {

namespace {

int orientationFor(QImageIOHandler::Transformations t)
{
    switch (int(t)) {
    case QImageIOHandler::TransformationMirror:
        return 2;
    case QImageIOHandler::TransformationRotate180:
        return 3;
    case QImageIOHandler::TransformationFlip:
        return 4;
    case QImageIOHandler::TransformationFlipAndRotate90:
        return 5;
    case QImageIOHandler::TransformationRotate90:
        return 6;
    case QImageIOHandler::TransformationMirrorAndRotate90:
        return 7;
    case QImageIOHandler::TransformationRotate270:
        return 8;
    default:
        return 1;
    }
}

// Orientation is applied by Orva from the one value the image layer reads (Qt's readers
// miss valid encodings of it), so Qt must not turn the pixels itself.
void prepare(QImageReader &reader)
{
    initializeImageIO();
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
}

// Qt reports a top-down BMP with a negative height.
QSize storedSizeOf(const QImageReader &reader)
{
    const QSize s = reader.size();
    return s.width() > 0 && s.height() < 0 ? QSize(s.width(), -s.height()) : s;
}

// Qt's TIFF plugin reads strips only; libtiff's RGBA interface reads every layout (tiles,
// odd sample formats). The pixels come back as stored: orientation is applied by the caller.
QImage readTiffThroughLibtiff(const QString &path)
{
    TIFFSetWarningHandler(nullptr);
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return {};
    uint32_t w = 0;
    uint32_t h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    QImage image;
    if (w > 0 && h > 0 && w <= uint32_t(DecodeLimits::maxSide) &&
        h <= uint32_t(DecodeLimits::maxSide) &&
        qint64(w) * h * 4 <= DecodeLimits::maxImageBytes()) {
        uint16_t stored = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &stored);
        image = QImage(int(w), int(h), QImage::Format_RGBA8888);
        if (!image.isNull() &&
            !TIFFReadRGBAImageOriented(tif, w, h, reinterpret_cast<uint32_t *>(image.bits()),
                                       stored, 0))
            image = QImage();
    }
    TIFFClose(tif);
    return image;
}

bool isJpeg(const QImageReader &reader) { return reader.format() == "jpeg"; }

bool isIcon(const QImageReader &reader)
{
    return reader.format() == "ico" || reader.format() == "cur";
}

bool isPng(const QImageReader &reader) { return reader.format() == "png"; }

bool fileIsAnimatedPng(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && isAnimatedPng(file);
}

// The icon entry with the most pixels (then the deepest); Qt returns the first.
QImage largestIconEntry(QImageReader &reader)
{
    QImage best;
    const int count = std::min(reader.imageCount(), 256);
    for (int i = 0; i < count; ++i) {
        if (!reader.jumpToImage(i))
            break;
        QImage entry = reader.read();
        if (entry.isNull())
            continue;
        const qint64 area = qint64(entry.width()) * entry.height();
        const qint64 bestArea = qint64(best.width()) * best.height();
        if (best.isNull() || area > bestArea || (area == bestArea && entry.depth() > best.depth()))
            best = std::move(entry);
    }
    return best;
}

// libjpeg decodes at M/8 of the size for free; anything between two steps costs a full
// smooth rescale, so stop at the step at or above the bound and let drawing fit it.
QSize jpegScaledSize(QSize stored, int bound)
{
    const int maxDim = std::max(stored.width(), stored.height());
    const int m = std::clamp(int(std::ceil(8.0 * bound / maxDim)), 1, 8);
    if (m == 8)
        return stored;
    auto scale = [m](int side) { return int((qint64(side) * m + 7) / 8); };
    return QSize(scale(stored.width()), scale(stored.height()));
}

// The largest strip or tile libtiff decodes at once: a file may keep its whole image in
// one.
qint64 tiffChunkBytes(const QString &path)
{
    TIFFSetWarningHandler(nullptr);
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return 0;
    const qint64 bytes = qint64(TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif));
    TIFFClose(tif);
    return bytes;
}

// Memory a decode of `source` to `target` pixels takes, the libraries' buffers included.
qint64 workingMemory(const ImageSource &source, QImageReader &reader, QSize stored, QSize target)
{
    const QImage::Format f = reader.imageFormat();
    const qint64 pixelBytes =
        f == QImage::Format_Invalid ? 4 : std::max(4, QImage::toPixelFormat(f).bitsPerPixel() / 8);
    const qint64 out = qint64(target.width()) * target.height() * pixelBytes;
    const qint64 full = qint64(stored.width()) * stored.height() * pixelBytes;
    const bool scaled = target != stored;
    qint64 bytes = (scaled ? out : 0) + (source.orientation != 1 ? out : 0);
    if (isJpeg(reader)) {
        // libjpeg scales while decoding, but buffers every coefficient of a progressive
        // file at full size first.
        QFile file(source.path);
        const auto frame = file.open(QIODevice::ReadOnly) ? readJpegFrame(file) : std::nullopt;
        bytes += out + (frame ? jpegCoefficientBytes(*frame) : 0);
    } else {
        bytes += full; // other plugins decode the whole image, then scale
        if (reader.format() == "tiff")
            bytes += tiffChunkBytes(source.path);
    }
    return bytes;
}

QSize exactScaledSize(QSize stored, int bound)
{
    const int maxDim = std::max(stored.width(), stored.height());
    if (bound >= maxDim)
        return stored;
    const double s = double(bound) / maxDim;
    return QSize(std::max(1, int(std::lround(stored.width() * s))),
                 std::max(1, int(std::lround(stored.height() * s))));
}

} // namespace

std::optional<ImageSource> probe(const QString &path, const QString &mimeType)
{
    QImageReader reader(path);
    prepare(reader);
    if (!reader.canRead())
        return std::nullopt;
    ImageSource source;
    source.path = path;
    source.mimeType = mimeType;
    source.kind = DecoderKind::qt;
    source.storedSize = storedSizeOf(reader);
    source.orientation =
        readExifOrientation(path).value_or(orientationFor(reader.transformation()));
    source.frameCount = std::max(1, reader.imageCount());
    source.qtFormat = reader.format();
    if (isIcon(reader)) {
        // Report the entry that will be shown.
        source.storedSize = largestIconEntry(reader).size();
        source.frameCount = 1;
    }
    if (isPng(reader) && fileIsAnimatedPng(path)) {
        source.animated = true;
        source.frameCount = std::max(source.frameCount, 2);
    } else {
        source.animated =
            source.frameCount >= 2 && isAnimatedImageType(mimeType) && reader.supportsAnimation();
    }
    return source;
}

std::optional<QImage> decodeStill(const ImageSource &source, int bound)
{
    QImageReader reader(source.path);
    prepare(reader);
    if (!reader.canRead())
        return std::nullopt;
    QImage image;
    if (endsBeforeItsEndMarker(source.path, reader.format())) {
        // An interrupted download: show the part that arrived, as Qt's readers would not.
        const bool png = isPng(reader);
        auto partial = readTruncatedImage(source.path, reader.format(), bound);
        if (!partial)
            return std::nullopt;
        image = applyOrientation(*partial, source.orientation);
        return png ? scaledToBound(image, bound) : image;
    }
    if (isPng(reader)) {
        // Decoded and reduced row by row; what libspng leaves aside goes through Qt below.
        const QSize stored = storedSizeOf(reader);
        if (auto reduced = readPngReduced(source.path, exactScaledSize(stored, bound)))
            return applyOrientation(*reduced, source.orientation);
    }
    if (isIcon(reader)) {
        image = largestIconEntry(reader);
        if (!image.isNull() && std::max(image.width(), image.height()) > bound)
            image = image.scaled(exactScaledSize(image.size(), bound), Qt::IgnoreAspectRatio,
                                 Qt::SmoothTransformation);
    } else {
        const QSize stored = storedSizeOf(reader);
        QSize target = stored;
        if (stored.isValid() && std::max(stored.width(), stored.height()) > bound) {
            target =
                isJpeg(reader) ? jpegScaledSize(stored, bound) : exactScaledSize(stored, bound);
            reader.setScaledSize(target);
        }
        if (stored.isValid() &&
            !DecodeLimits::fitsWorkingMemory(workingMemory(source, reader, stored, target)))
            return std::nullopt;
        const bool tiff = reader.format() == "tiff";
        if (isJpeg(reader) && target != stored)
            if (auto reduced = readJpegReduced(source.path, bound))
                return applyOrientation(*reduced, source.orientation);
        image = reader.read();
        // Layouts and sample formats Qt's plugin refuses go to libtiff's own interfaces.
        if (image.isNull() && tiff) {
            image = readTiffSamples(source.path);
            if (image.isNull())
                image = readTiffThroughLibtiff(source.path);
            image = scaledToBound(image, bound);
        }
        image = applyOrientation(image, source.orientation);
    }
    if (image.isNull())
        return std::nullopt;
    return image;
}

std::shared_ptr<DisplayImage> decodeAnimated(const ImageSource &source,
                                             const std::function<bool()> &isCancelled)
{
    auto display = std::make_shared<DisplayImage>();
    const qint64 maxBytes =
        std::min(DecodeLimits::maxAnimationBytes, DecodeLimits::workingMemoryBudget());
    if (source.qtFormat == "png") {
        QFile file(source.path);
        if (!file.open(QIODevice::ReadOnly) || file.size() > maxBytes)
            return nullptr;
        ApngLimits limits;
        limits.maxTotalBytes = maxBytes;
        const auto apng = readApng(file.readAll(), limits, isCancelled);
        if (!apng || apng->frames.empty())
            return nullptr;
        for (const ApngFrame &f : apng->frames)
            display->frames.push_back({f.image, f.delayMs});
        display->loopCount = apng->loopCount;
    } else {
        QImageReader reader(source.path);
        prepare(reader);
        const int count = reader.imageCount();
        qint64 bytes = 0;
        for (int i = 0; i < count; ++i) {
            if (isCancelled())
                return nullptr;
            QImage frame = reader.read();
            if (frame.isNull())
                break; // keep the frames that decoded
            bytes += frame.sizeInBytes();
            if (bytes > maxBytes)
                return nullptr;
            display->frames.push_back({std::move(frame), reader.nextImageDelay()});
        }
        if (display->frames.empty())
            return nullptr;
        display->loopCount = reader.loopCount();
    }
    // Frames are drawn as they are, so they get the colour conversion a still image gets
    // when it is prepared for drawing. Qt tags only some frames with the file's profile.
    QColorSpace profile;
    for (const ImageFrame &f : display->frames)
        if (f.image.colorSpace().isValid()) {
            profile = f.image.colorSpace();
            break;
        }
    for (ImageFrame &f : display->frames) {
        if (isCancelled())
            return nullptr;
        if (!f.image.colorSpace().isValid() && profile.isValid())
            f.image.setColorSpace(profile);
        f.image = toDisplayPixels(f.image);
    }
    return display;
}

std::optional<QImage> embeddedThumbnail(const ImageSource &source, int minSide)
{
    if (source.mimeType != QLatin1String("image/jpeg"))
        return std::nullopt;
    const auto data = exifThumbnailData(source.path);
    if (!data)
        return std::nullopt;
    QImage thumb;
    if (!thumb.loadFromData(*data) || std::max(thumb.width(), thumb.height()) < minSide)
        return std::nullopt;
    return applyOrientation(thumb, source.orientation);
}

} // namespace orva::qtdecoder
