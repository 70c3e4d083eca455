#include "core/runtime/TaskRuntime.h"
#include "imageio/Backends.h"
#include "imageio/DecodeLimits.h"
#include "imageio/ExifReader.h"
#include "imageio/Orientation.h"
#include "imageio/PsdReader.h"

#include <QFile>

namespace orva::psddecoder {

std::optional<ImageSource> probe(const QString &path, const QString &mimeType)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto header = readPsdHeader(file);
    if (!header)
        return std::nullopt;
    ImageSource source;
    source.path = path;
    source.mimeType = mimeType;
    source.kind = DecoderKind::psd;
    source.storedSize = QSize(header->width, header->height);
    source.orientation = readExifOrientation(path).value_or(1);
    return source;
}

std::optional<QImage> decode(const ImageSource &source, int bound)
{
    QFile file(source.path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto header = readPsdHeader(file);
    if (!header || !file.seek(0))
        return std::nullopt;
    // The channels as read, the composite at up to 16 bytes a pixel, and its oriented copy.
    const qint64 pixels = qint64(header->width) * header->height;
    if (!DecodeLimits::fitsWorkingMemory(pixels * (header->channels * 4 + 32)))
        return std::nullopt;
    PsdLimits limits;
    limits.maxPixels = DecodeLimits::maxPixels;
    limits.maxBytes = DecodeLimits::maxImageBytes();
    const CancellationToken token = CancellationToken::current();
    auto image = readPsdComposite(file, limits, [&] { return token.isCancelled(); });
    if (!image || image->isNull())
        return std::nullopt;
    return scaledToBound(applyOrientation(*image, source.orientation), bound);
}

} // namespace orva::psddecoder
