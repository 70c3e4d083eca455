#include "imageio/ImageDecoding.h"

#include "core/runtime/TaskRuntime.h"
#include "core/view/DisplayPixels.h"
#include "imageio/Backends.h"
#include "imageio/DecodeLimits.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

#include <algorithm>
#include <cmath>

namespace orva {

std::optional<ImageSource> openImageSource(const QString &path)
{
    initializeImageIO();
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return std::nullopt;
    const QString mime = imageMimeType(path);
    switch (decoderKindFor(path, mime)) { // one content sniff per open
    case DecoderKind::raw:
        return rawdecoder::probe(path, mime);
    case DecoderKind::heif:
        return heifdecoder::probe(path, mime);
    case DecoderKind::psd:
        return psddecoder::probe(path, mime);
    case DecoderKind::qt:
        return qtdecoder::probe(path, mime);
    }
    return std::nullopt;
}

std::optional<QSize> orientedPixelSize(const ImageSource &source)
{
    const QSize s = source.storedSize;
    if (s.width() <= 0 || s.height() <= 0)
        return std::nullopt;
    return swapsSides(source.orientation) ? s.transposed() : s;
}

QImage scaledToBound(const QImage &image, int bound)
{
    const int longer = std::max(image.width(), image.height());
    if (bound <= 0 || longer <= bound)
        return image;
    const double s = double(bound) / longer;
    return image.scaled(std::max(1, int(std::lround(image.width() * s))),
                        std::max(1, int(std::lround(image.height() * s))), Qt::IgnoreAspectRatio,
                        Qt::SmoothTransformation);
}

namespace {

std::optional<QImage> decodeStill(const ImageSource &source, int bound)
{
    switch (source.kind) {
    case DecoderKind::raw:
        return rawdecoder::decode(source, bound);
    case DecoderKind::heif:
        return heifdecoder::decode(source, bound);
    case DecoderKind::psd:
        return psddecoder::decode(source, bound);
    case DecoderKind::qt:
        return qtdecoder::decodeStill(source, bound);
    }
    return std::nullopt;
}

std::optional<DecodedImage> decodeAnimated(const ImageSource &source)
{
    auto display = qtdecoder::decodeAnimated(
        source, [token = CancellationToken::current()] { return token.isCancelled(); });
    if (!display)
        return std::nullopt;
    normalizeToPixelSize(*display);
    std::shared_ptr<const DisplayImage> shared = std::move(display);
    return DecodedImage{shared, std::nullopt, shared, 1.0};
}

// Why no decoder opened a file: it is not there, cannot be read, or starts like an image
// format Orva reads (then it is damaged) or like none.
DecodeFailure failureOfUnopenedFile(const QString &path)
{
    if (!QFileInfo::exists(path))
        return DecodeFailure::missing;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.error() == QFileDevice::PermissionsError ? DecodeFailure::permissionDenied
                                                             : DecodeFailure::unreadable;
    static const QMimeDatabase db;
    const QMimeType byContent = db.mimeTypeForData(&file);
    return byContent.name().startsWith(QLatin1String("image/")) ? DecodeFailure::damaged
                                                                : DecodeFailure::unreadable;
}

// A header that was read but whose pixels were not: too large for the decode limits, or
// damaged data.
DecodeFailure failureOfDecode(QSize oriented)
{
    const qint64 pixels = qint64(oriented.width()) * oriented.height();
    const bool tooLarge = pixels > DecodeLimits::maxPixels ||
                          std::max(oriented.width(), oriented.height()) > DecodeLimits::maxSide ||
                          pixels * 4 > DecodeLimits::maxImageBytes();
    return tooLarge ? DecodeFailure::tooLarge : DecodeFailure::damaged;
}

// A decoded still of an image whose oriented size is `oriented`, with its preview.
DecodedImage stillImage(const QImage &bitmap, QSize oriented)
{
    const QSizeF pointSize(oriented);
    auto image = std::make_shared<DisplayImage>();
    image->pointSize = pointSize;
    image->frames.push_back({bitmap, 0});
    const double resolution = std::min(double(bitmap.width()) / oriented.width(), 1.0);
    return DecodedImage{std::move(image), bitmap, makePreviewImage(bitmap, pointSize), resolution};
}

} // namespace

std::optional<DecodedImage> decodeImage(const QUrl &url, std::optional<int> maxPixelSize,
                                        DecodeFailure *failure)
{
    DecodeFailure ignored = DecodeFailure::unreadable;
    DecodeFailure &why = failure ? *failure : ignored;
    why = DecodeFailure::unreadable;
    const CancellationToken token = CancellationToken::current();
    if (token.isCancelled() || !url.isLocalFile())
        return std::nullopt;
    const ReadablePath readable(url);
    const auto source = openImageSource(readable.path());
    if (!source) {
        why = failureOfUnopenedFile(url.toLocalFile());
        return std::nullopt;
    }
    why = DecodeFailure::damaged;
    DecodeLimits::takeMemoryRefusal();
    if (source->frameCount >= 2 && source->animated) {
        auto animation = decodeAnimated(*source);
        if (!animation && DecodeLimits::takeMemoryRefusal())
            why = DecodeFailure::tooLarge;
        return animation;
    }
    const auto oriented = orientedPixelSize(*source);
    if (!oriented)
        return std::nullopt;
    const int maxDim = std::max(oriented->width(), oriented->height());
    const int bound = maxPixelSize ? std::clamp(*maxPixelSize, 1, maxDim) : maxDim;
    if (token.isCancelled())
        return std::nullopt;
    const auto bitmap = decodeStill(*source, bound);
    if (!bitmap || bitmap->isNull() || token.isCancelled()) {
        why = DecodeLimits::takeMemoryRefusal() ? DecodeFailure::tooLarge
                                                : failureOfDecode(*oriented);
        return std::nullopt;
    }
    return stillImage(*bitmap, *oriented);
}

std::optional<DecodedImage> decodeEmbeddedPreview(const QUrl &url)
{
    if (!url.isLocalFile() || CancellationToken::current().isCancelled())
        return std::nullopt;
    const ReadablePath readable(url);
    const QString path = readable.path();
    initializeImageIO();
    const QString mime = imageMimeType(path);
    if (decoderKindFor(path, mime) != DecoderKind::heif) // sniffed only, no probe
        return std::nullopt;
    const auto source = heifdecoder::probe(path, mime);
    if (!source)
        return std::nullopt;
    const auto oriented = orientedPixelSize(*source);
    const auto bitmap = oriented ? heifdecoder::thumbnail(*source, 1) : std::nullopt;
    if (!bitmap || bitmap->isNull())
        return std::nullopt;
    return stillImage(*bitmap, *oriented);
}

std::optional<QImage> makeThumbnail(const QUrl &url, int maxPixelSize,
                                    std::optional<int> minEmbeddedSide)
{
    if (!url.isLocalFile() || maxPixelSize <= 0)
        return std::nullopt;
    const ReadablePath readable(url);
    const auto source = openImageSource(readable.path());
    if (!source)
        return std::nullopt;
    const int minSide = std::max(1, minEmbeddedSide.value_or(maxPixelSize));
    std::optional<QImage> embedded;
    switch (source->kind) {
    case DecoderKind::raw:
        embedded = rawdecoder::thumbnail(*source, minSide);
        break;
    case DecoderKind::heif:
        embedded = heifdecoder::thumbnail(*source, minSide);
        break;
    case DecoderKind::qt:
        embedded = qtdecoder::embeddedThumbnail(*source, minSide);
        break;
    case DecoderKind::psd:
        break;
    }
    if (embedded && !embedded->isNull())
        return scaledToBound(*embedded, maxPixelSize);
    const auto oriented = orientedPixelSize(*source);
    if (!oriented)
        return std::nullopt;
    const int bound = std::min(maxPixelSize, std::max(oriented->width(), oriented->height()));
    auto bitmap = decodeStill(*source, bound);
    if (!bitmap || bitmap->isNull())
        return std::nullopt;
    return scaledToBound(*bitmap, bound);
}

std::shared_ptr<DisplayImage> makePreviewImage(const QImage &bitmap, QSizeF size)
{
    auto preview = std::make_shared<DisplayImage>();
    preview->pointSize = size;
    const int longer = std::max(bitmap.width(), bitmap.height());
    if (bitmap.isNull() || longer <= 0)
        return preview;
    const double s = std::min(double(previewPixelLimit) / longer, 1.0);
    const int w = std::max(int(s * bitmap.width()), 1);
    const int h = std::max(int(s * bitmap.height()), 1);
    // Qt's smooth downscale averages areas in one pass over the source, at its depth; the
    // colours are converted before the reduction to 8 bits.
    QImage small =
        toDisplayPixels(bitmap.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))
            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (small.isNull())
        return preview;
    small.setColorSpace(QColorSpace(QColorSpace::SRgb));
    preview->frames.push_back({small, 0});
    return preview;
}

DisplayImage &normalizeToPixelSize(DisplayImage &image)
{
    int maxW = 0;
    int maxH = 0;
    for (const ImageFrame &f : image.frames) {
        if (f.image.width() > 0 && f.image.height() > 0) {
            maxW = std::max(maxW, f.image.width());
            maxH = std::max(maxH, f.image.height());
        }
    }
    if (maxW > 0 && maxH > 0)
        image.pointSize = QSizeF(maxW, maxH);
    return image;
}

} // namespace orva
