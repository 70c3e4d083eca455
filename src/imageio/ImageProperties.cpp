#include "imageio/ImageProperties.h"

#include "imageio/ExifReader.h"
#include "imageio/ImageFormats.h"
#include "imageio/ImageHeaders.h"
#include "imageio/ImageSource.h"
#include "imageio/JpegHeader.h"
#include "imageio/PixelFormats.h"
#include "imageio/PsdReader.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <libheif/heif.h>

namespace orva {

namespace {

struct DepthAndModel {
    std::optional<int> depth;
    std::optional<QString> model;
};

DepthAndModel fromQtFormat(QImage::Format format)
{
    if (format == QImage::Format_Invalid)
        return {};
    return {bitsPerComponent(format),
            isGrayFormat(format) ? QStringLiteral("Gray") : QStringLiteral("RGB")};
}

// Number of colour components in a JPEG's frame header: Qt converts CMYK to RGB before
// anyone can ask.
std::optional<int> jpegComponents(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto frame = readJpegFrame(f);
    if (!frame || frame->components.isEmpty())
        return std::nullopt;
    return int(frame->components.size());
}

std::optional<QString> modelForPhotometric(int photometric)
{
    switch (photometric) {
    case 0:
    case 1:
        return QStringLiteral("Gray");
    case 2:
    case 3:
    case 6:
        return QStringLiteral("RGB");
    case 5:
        return QStringLiteral("CMYK");
    case 8:
    case 9:
    case 10:
        return QStringLiteral("Lab");
    default:
        return std::nullopt;
    }
}

DepthAndModel depthAndModel(const ImageSource &source, const std::optional<ExifProperties> &exif)
{
    switch (source.kind) {
    case DecoderKind::qt: {
        QImageReader reader(source.path);
        reader.setDecideFormatFromContent(true);
        // Some plugins answer imageFormat() with an uninitialised value when the header is
        // broken; ask only once the header has given a size.
        DepthAndModel dm =
            reader.size().isValid() ? fromQtFormat(reader.imageFormat()) : DepthAndModel{};
        if (reader.format() == "jpeg") {
            if (const auto c = jpegComponents(source.path))
                dm.model = *c == 4   ? QStringLiteral("CMYK")
                           : *c == 1 ? QStringLiteral("Gray")
                                     : QStringLiteral("RGB");
        } else if (const auto header = source.storedSize.isEmpty()
                                           ? std::nullopt
                                           : readHeaderDepthAndModel(source.path)) {
            if (header->depth)
                dm.depth = header->depth;
            if (header->model)
                dm.model = header->model;
        } else if (reader.format() == "tiff" && exif) {
            if (exif->photometricInterpretation)
                if (auto m = modelForPhotometric(*exif->photometricInterpretation))
                    dm.model = m;
            if (exif->bitsPerSample && *exif->bitsPerSample > 0)
                dm.depth = exif->bitsPerSample;
        }
        return dm;
    }
    case DecoderKind::heif: {
        heif_context *ctx = heif_context_alloc();
        DepthAndModel dm{std::nullopt, QStringLiteral("RGB")};
        heif_image_handle *h = nullptr;
        if (heif_context_read_from_file(ctx, QFile::encodeName(source.path).constData(), nullptr)
                    .code == heif_error_Ok &&
            heif_context_get_primary_image_handle(ctx, &h).code == heif_error_Ok) {
            if (const int bits = heif_image_handle_get_luma_bits_per_pixel(h); bits > 0)
                dm.depth = bits;
            heif_image_handle_release(h);
        }
        heif_context_free(ctx);
        return dm;
    }
    case DecoderKind::raw:
        return {std::nullopt, QStringLiteral("RGB")};
    case DecoderKind::psd: {
        QFile f(source.path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const auto header = readPsdHeader(f);
        if (!header)
            return {};
        const QString model = psdColorModelName(header->colorMode);
        return {header->depth, model.isEmpty() ? std::nullopt : std::optional<QString>(model)};
    }
    }
    return {};
}

// A file no decoder opens (a camera format LibRaw lacks, a cut-off HEIC) can still carry
// readable Exif: its camera rows are worth showing without the pixel rows.
std::optional<ImageProperties> metadataOnlyProperties(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return std::nullopt;
    const auto exif = readExifProperties(path);
    if (!exif || (!exif->tiff && !exif->exif && !exif->gps))
        return std::nullopt;
    ImageProperties p;
    p.mimeType = imageMimeType(path);
    p.tiff = exif->tiff;
    p.exif = exif->exif;
    p.gps = exif->gps;
    return p;
}

} // namespace

std::optional<ImageProperties> readImageProperties(const QUrl &url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const ReadablePath readable(url);
    const auto source = openImageSource(readable.path());
    if (!source)
        return metadataOnlyProperties(url.toLocalFile());
    ImageProperties p;
    p.mimeType = source->mimeType;
    // A camera raw file stores more of its sensor than it shows; the row gives what is stored.
    const QSize stored = source->sensorSize.width() > 0 && source->sensorSize.height() > 0
                             ? source->sensorSize
                             : source->storedSize;
    if (stored.width() > 0 && stored.height() > 0) {
        p.pixelWidth = stored.width();
        p.pixelHeight = stored.height();
    }
    p.orientation = source->orientation;
    p.frameCount = source->frameCount;
    const auto exif = readExifProperties(source->path);
    const DepthAndModel dm = depthAndModel(*source, exif);
    p.depth = dm.depth;
    p.colorModel = dm.model;
    if (exif) {
        p.tiff = exif->tiff;
        p.exif = exif->exif;
        p.gps = exif->gps;
    }
    return p;
}

} // namespace orva
