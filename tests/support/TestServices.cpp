#include "support/TestServices.h"

#include "core/runtime/TaskRuntime.h"

#include <QFileInfo>
#include <QTransform>

#include <algorithm>

namespace orva::test {

// A one-frame image as decodes hand it over.
static DecodedImage shown(const QImage &bitmap, QSizeF pointSize, double resolution)
{
    auto image = std::make_shared<DisplayImage>();
    image->pointSize = pointSize;
    image->frames.push_back({bitmap, 0});
    return DecodedImage{image, bitmap, image, resolution};
}

bool FakeImageService::isSupportedImageFile(const QUrl &url) const
{
    if (!url.isLocalFile())
        return false;
    const QFileInfo info(url.toLocalFile());
    return extensions_.contains(info.suffix().toLower()) && !info.isDir();
}

void FakeImageService::waitFor(const QString &fileName, bool always) const
{
    QMutexLocker lock(&mutex_);
    const CancellationToken token = CancellationToken::current();
    while ((gated_ || always) && !releasedAll_ && !releasedNames_.contains(fileName) &&
           !token.isCancelled())
        released_.wait(&mutex_, 5); // re-check cancellation now and then
}

std::optional<DecodedImage> FakeImageService::decodeImage(const QUrl &url,
                                                          std::optional<int> maxPixelSize) const
{
    ++decodeCalls;
    const QString name = url.fileName();
    waitFor(name, false);
    if (CancellationToken::current().isCancelled() || failing.contains(name))
        return std::nullopt;
    const int maxDim = std::max(fullSize.width(), fullSize.height());
    const int bound = maxPixelSize ? std::min(*maxPixelSize, maxDim) : maxDim;
    const double resolution = double(bound) / maxDim;
    QImage bitmap(std::max(1, int(fullSize.width() * resolution / 100)),
                  std::max(1, int(fullSize.height() * resolution / 100)), QImage::Format_RGB32);
    bitmap.fill(Qt::gray);
    bitmap.setText(QStringLiteral("file"), name);
    return shown(bitmap, QSizeF(fullSize), resolution);
}

std::optional<DecodedImage> FakeImageService::decodeQuickPreview(const QUrl &url) const
{
    if (!quickPreviews.contains(url.fileName()))
        return std::nullopt;
    QImage bitmap(32, 24, QImage::Format_RGB32);
    bitmap.setText(QStringLiteral("file"), url.fileName() + QStringLiteral(" quick"));
    return shown(bitmap, QSizeF(fullSize), 32.0 / fullSize.width());
}

std::optional<ImageProperties> FakeImageService::readProperties(const QUrl &url) const
{
    const QString name = url.fileName();
    if (QMutexLocker lock(&mutex_); blockedProperties_.contains(name)) {
        lock.unlock();
        ++blockedReads;
        waitFor(name, true);
    }
    if (properties)
        return *properties;
    ImageProperties p;
    p.pixelWidth = fullSize.width();
    p.pixelHeight = fullSize.height();
    if (dateTimeOriginal.contains(name)) {
        p.exif = ExifCaptureProperties{};
        p.exif->dateTimeOriginal = dateTimeOriginal.value(name);
    }
    return p;
}

std::optional<QImage> FakeImageService::makeThumbnail(const QUrl &url, int maxPixelSize,
                                                      std::optional<int>) const
{
    ++thumbnailCalls;
    const QString name = url.fileName();
    waitFor(name, false);
    if (CancellationToken::current().isCancelled() || failing.contains(name))
        return std::nullopt;
    if (thumbnails.contains(name))
        return thumbnails.value(name);
    QImage image(fullSize.scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio),
                 QImage::Format_RGB32);
    image.fill(Qt::gray);
    return image;
}

std::optional<DecodedImage> FakeImageService::rotateDecodedImage(const DecodedImage &image,
                                                                 int quarterTurns) const
{
    waitFor(QStringLiteral("turn %1").arg(quarterTurns), false);
    if (!image.bitmap)
        return std::nullopt;
    const int t = quarterTurns & 3;
    QImage turned = image.bitmap->transformed(QTransform().rotate(90 * t));
    turned.setText(QStringLiteral("file"), image.bitmap->text(QStringLiteral("file")));
    const QSizeF size = image.image->pointSize;
    return shown(turned, t % 2 ? size.transposed() : size, image.resolution);
}

} // namespace orva::test
