#include "imageio/RotationSave.h"

#include "imageio/ApngReader.h"
#include "imageio/DecodeLimits.h"
#include "imageio/ExifWriter.h"
#include "imageio/FileRewrite.h"
#include "imageio/HeifBoxes.h"
#include "imageio/ImageFormats.h"
#include "imageio/Orientation.h"
#include "imageio/Rotation.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeDatabase>

namespace orva {

namespace {

// Files are rewritten in memory; far above any photo's encoded size.
constexpr qint64 maxRewriteBytes = qint64(1) << 30;

QString mimeTypeOf(const QByteArray &file, const QString &fileName)
{
    static const QMimeDatabase db;
    const QMimeType byContent = db.mimeTypeForFileNameAndData(fileName, file);
    return byContent.name();
}

std::optional<QByteArray> rotatedHeif(const QByteArray &file, int turns)
{
    const std::optional<HeifItemTransform> current = readHeifPrimaryTransform(file);
    if (!current)
        return std::nullopt;
    const auto orientation = rotatedOrientation(std::uint32_t(exifOrientation(*current)), turns);
    return withHeifPrimaryTransform(file, heifTransformFor(int(orientation)));
}

// Keys whose values Exiv2 writes back from the cleaned metadata, or which describe
// the old geometry.
bool isMetadataText(const QString &key)
{
    return key.startsWith(QLatin1String("Raw profile type ")) ||
           key == QLatin1String("XML:com.adobe.xmp");
}

std::optional<QByteArray> rotatedPixels(const QByteArray &file, const QByteArray &format, int turns)
{
    initializeImageIO();
    QBuffer in;
    in.setData(file);
    in.open(QIODevice::ReadOnly);
    if (format == "png" && isAnimatedPng(in))
        return std::nullopt;
    in.seek(0);
    QImageReader reader(&in, format);
    reader.setAutoTransform(false);
    if (reader.imageCount() > 1)
        return std::nullopt;
    const QImage stored = reader.read();
    // Qt's BMP writer has no alpha channel: such a file would lose its transparency.
    if (stored.isNull() || (format == "bmp" && stored.hasAlphaChannel()))
        return std::nullopt;
    // What the user sees is the stored pixels shown by their orientation; that view is
    // turned and written upright, without an orientation.
    const std::optional<int> orientation = readStoredOrientation(file);
    QImage shown = applyOrientation(stored, orientation.value_or(1));
    shown.setColorSpace(stored.colorSpace()); // a transformed copy does not carry it
    const std::optional<QImage> turned = rotateBitmap(shown, turns);
    if (!turned)
        return std::nullopt;
    // A view of the same pixels without the text Exiv2 writes back cleaned (when it can
    // read the file's metadata at all); QImage cannot drop a text key.
    QImage out(turned->constBits(), turned->width(), turned->height(), turned->bytesPerLine(),
               turned->format());
    out.setColorTable(turned->colorTable());
    out.setColorSpace(turned->colorSpace());
    out.setDotsPerMeterX(turned->dotsPerMeterX());
    out.setDotsPerMeterY(turned->dotsPerMeterY());
    for (const QString &key : turned->textKeys())
        if (!orientation || !isMetadataText(key))
            out.setText(key, turned->text(key));
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(out))
        return std::nullopt;
    buffer.close();
    if (format != "png" || !orientation)
        return encoded;
    return withMetadataOf(file, encoded);
}

} // namespace

std::optional<QByteArray> rotatedFileContents(const QByteArray &file, const QString &fileName,
                                              int quarterTurns)
{
    const int turns = normalizedQuarterTurns(quarterTurns);
    if (turns == 0)
        return file;
    const QString mime = mimeTypeOf(file, fileName);
    // Camera raw files look like TIFF and AVIF like HEIF: neither is rewritten.
    if (decoderKindFor(fileName, mime) == DecoderKind::raw || mime == QLatin1String("image/avif"))
        return std::nullopt;
    if (isOrientationTaggedType(mime)) {
        if (decoderKindFor(fileName, mime) == DecoderKind::heif)
            return rotatedHeif(file, turns);
        return withRotatedOrientation(file, turns);
    }
    if (isPixelRotatedType(mime)) {
        static const QMimeDatabase db;
        return rotatedPixels(file,
                             db.mimeTypeForName(mime).inherits(QStringLiteral("image/png")) ||
                                     mime == QLatin1String("image/png")
                                 ? QByteArray("png")
                                 : QByteArray("bmp"),
                             turns);
    }
    return std::nullopt;
}

bool saveRotation(const QUrl &url, int quarterTurns)
{
    if (normalizedQuarterTurns(quarterTurns) == 0)
        return true;
    if (!url.isLocalFile())
        return false;
    std::optional<FileRewrite> rewrite = FileRewrite::open(url.toLocalFile(), maxRewriteBytes);
    if (!rewrite)
        return false;
    const std::optional<QByteArray> bytes =
        rotatedFileContents(rewrite->contents(), rewrite->targetPath(), quarterTurns);
    return bytes && rewrite->commit(*bytes);
}

} // namespace orva
