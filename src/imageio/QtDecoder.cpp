#include "imageio/QtDecoder.h"

#include "imageio/ApngReader.h"
#include "imageio/Backends.h"
#include "imageio/DecodeLimits.h"
#include "imageio/ExifReader.h"
#include "imageio/Orientation.h"
#include "imageio/TruncatedReader.h"

#include <QBuffer>
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

void prepare(QImageReader &reader)
{
    initializeImageIO();
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
}

// Qt reports a top-down BMP with a negative height.
QSize storedSizeOf(const QImageReader &reader)
{
    const QSize s = reader.size();
    return s.width() > 0 && s.height() < 0 ? QSize(s.width(), -s.height()) : s;
}

// Qt's TIFF plugin reads strips only; libtiff's RGBA interface reads every layout (tiles,
// odd sample formats) and applies the orientation tag.
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
        image = QImage(int(w), int(h), QImage::Format_RGBA8888);
        if (!image.isNull() &&
            !TIFFReadRGBAImageOriented(tif, w, h, reinterpret_cast<uint32_t *>(image.bits()),
                                       ORIENTATION_TOPLEFT, 0))
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
    source.orientation = orientationFor(reader.transformation());
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
    if (isIcon(reader)) {
        image = largestIconEntry(reader);
        if (!image.isNull() && std::max(image.width(), image.height()) > bound)
            image = image.scaled(exactScaledSize(image.size(), bound), Qt::IgnoreAspectRatio,
                                 Qt::SmoothTransformation);
    } else {
        const QSize stored = storedSizeOf(reader);
        if (stored.isValid() && std::max(stored.width(), stored.height()) > bound)
            reader.setScaledSize(isJpeg(reader) ? jpegScaledSize(stored, bound)
                                                : exactScaledSize(stored, bound));
        const bool tiff = reader.format() == "tiff";
        image = reader.read();
        if (image.isNull() && tiff)
            image = scaledToBound(readTiffThroughLibtiff(source.path), bound);
    }
    if (image.isNull())
        return std::nullopt;
    return image;
}

std::shared_ptr<DisplayImage> decodeAnimated(const ImageSource &source,
                                             const std::function<bool()> &isCancelled)
{
    auto display = std::make_shared<DisplayImage>();
    if (source.qtFormat == "png") {
        QFile file(source.path);
        if (!file.open(QIODevice::ReadOnly) || file.size() > DecodeLimits::maxAnimationBytes)
            return nullptr;
        ApngLimits limits;
        limits.maxTotalBytes = DecodeLimits::maxAnimationBytes;
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
            if (bytes > DecodeLimits::maxAnimationBytes)
                return nullptr;
            display->frames.push_back({std::move(frame), reader.nextImageDelay()});
        }
        if (display->frames.empty())
            return nullptr;
        display->loopCount = reader.loopCount();
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
