// orva-inspect [--max-pixel-size N] [--metadata] FILE...
// Decodes each file as the viewer would and prints one JSON object per line.
#include "core/metadata/MetadataRows.h"
#include "imageio/ImageDecoding.h"
#include "imageio/ImageFormats.h"
#include "imageio/ImageIOService.h"
#include "imageio/PixelFormats.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cstdio>
#include <optional>

namespace {

QJsonValue colorSpaceName(const QImage &image)
{
    const QColorSpace cs = image.colorSpace();
    if (!cs.isValid())
        return QJsonValue::Null;
    const QString d = cs.description();
    if (!d.isEmpty())
        return d;
    switch (cs.primaries()) {
    case QColorSpace::Primaries::SRgb:
        return QStringLiteral("sRGB primaries");
    case QColorSpace::Primaries::AdobeRgb:
        return QStringLiteral("Adobe RGB primaries");
    case QColorSpace::Primaries::DciP3D65:
        return QStringLiteral("Display P3 primaries");
    case QColorSpace::Primaries::ProPhotoRgb:
        return QStringLiteral("ProPhoto RGB primaries");
    default:
        return QStringLiteral("custom");
    }
}

// The metadata rows exactly as the panel shows them, and the capture date used for sorting.
void addMetadata(QJsonObject &out, const QUrl &url)
{
    const orva::ImageIOService images;
    QJsonArray rows;
    for (const orva::MetadataEntry &e : orva::readMetadataEntries(url, images))
        rows.append(
            QJsonObject{{QStringLiteral("label"), e.label}, {QStringLiteral("value"), e.value}});
    out.insert(QStringLiteral("metadata"), rows);
    const auto taken = orva::dateTaken(url, images);
    out.insert(QStringLiteral("date_taken"),
               taken ? QJsonValue(taken->toString(Qt::ISODate)) : QJsonValue(QJsonValue::Null));
}

QJsonObject inspect(const QString &path, std::optional<int> maxPixelSize, bool metadata)
{
    const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    QJsonObject out;
    out.insert(QStringLiteral("file"), path);
    out.insert(QStringLiteral("supported"), orva::isSupportedImageFile(url));
    if (metadata)
        addMetadata(out, url);
    QElapsedTimer timer;
    timer.start();
    const auto decoded = orva::decodeImage(url, maxPixelSize);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    out.insert(QStringLiteral("decoded"), decoded.has_value());
    if (!decoded)
        return out;
    const QImage first = decoded->bitmap                  ? *decoded->bitmap
                         : decoded->image->frames.empty() ? QImage()
                                                          : decoded->image->frames.front().image;
    out.insert(QStringLiteral("bitmap_width"), first.width());
    out.insert(QStringLiteral("bitmap_height"), first.height());
    out.insert(QStringLiteral("point_width"), decoded->image->pointSize.width());
    out.insert(QStringLiteral("point_height"), decoded->image->pointSize.height());
    out.insert(QStringLiteral("resolution"), decoded->resolution);
    out.insert(QStringLiteral("frames"), qint64(decoded->image->frames.size()));
    out.insert(QStringLiteral("bit_depth"), orva::bitsPerComponent(first.format()));
    out.insert(QStringLiteral("color_space"), colorSpaceName(first));
    out.insert(QStringLiteral("ms"), qRound(ms * 10) / 10.0);
    return out;
}

int usage()
{
    std::fprintf(stderr, "usage: orva-inspect [--max-pixel-size N] [--metadata] FILE...\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::optional<int> maxPixelSize;
    bool metadata = false;
    QStringList files;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--max-pixel-size")) {
            bool ok = false;
            const int n = i + 1 < args.size() ? args[++i].toInt(&ok) : 0;
            if (!ok || n <= 0)
                return usage();
            maxPixelSize = n;
        } else if (a == QLatin1String("--metadata")) {
            metadata = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage();
        } else {
            files << a;
        }
    }
    if (files.isEmpty())
        return usage();
    for (const QString &f : files) {
        const QByteArray line =
            QJsonDocument(inspect(f, maxPixelSize, metadata)).toJson(QJsonDocument::Compact);
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    return 0;
}
