#include "imageio/ImageIOService.h"

#include "imageio/ImageDecoding.h"
#include "imageio/ImageFormats.h"
#include "imageio/ImageProperties.h"
#include "imageio/Rotation.h"
#include "imageio/RotationSave.h"

namespace orva {

const QSet<QString> &ImageIOService::supportedExtensions() const
{
    return supportedImageExtensions();
}

bool ImageIOService::isSupportedImageFile(const QUrl &url) const
{
    return orva::isSupportedImageFile(url);
}

std::optional<DecodedImage> ImageIOService::decodeImage(const QUrl &url,
                                                        std::optional<int> maxPixelSize) const
{
    return orva::decodeImage(url, maxPixelSize);
}

DecodeOutcome ImageIOService::decodeWithReason(const QUrl &url,
                                               std::optional<int> maxPixelSize) const
{
    DecodeOutcome outcome;
    outcome.image = orva::decodeImage(url, maxPixelSize, &outcome.failure);
    return outcome;
}

std::optional<DecodedImage> ImageIOService::decodeQuickPreview(const QUrl &url) const
{
    return orva::decodeEmbeddedPreview(url);
}

std::optional<ImageProperties> ImageIOService::readProperties(const QUrl &url) const
{
    return readImageProperties(url);
}

std::optional<QImage> ImageIOService::makeThumbnail(const QUrl &url, int maxPixelSize,
                                                    std::optional<int> minEmbeddedSide) const
{
    return orva::makeThumbnail(url, maxPixelSize, minEmbeddedSide);
}

std::optional<DecodedImage> ImageIOService::rotateDecodedImage(const DecodedImage &image,
                                                               int quarterTurns) const
{
    return orva::rotateDecodedImage(image, quarterTurns);
}

bool ImageIOService::saveRotation(const QUrl &url, int quarterTurns) const
{
    return orva::saveRotation(url, quarterTurns);
}

} // namespace orva
