#pragma once

#include "core/services/ImageService.h"

namespace orva {

// The image layer behind the logic's ImageService interface.
class ImageIOService final : public ImageService {
public:
    const QSet<QString> &supportedExtensions() const override;
    bool isSupportedImageFile(const QUrl &url) const override;
    std::optional<DecodedImage> decodeImage(const QUrl &url,
                                            std::optional<int> maxPixelSize) const override;
    DecodeOutcome decodeWithReason(const QUrl &url, std::optional<int> maxPixelSize) const override;
    std::optional<DecodedImage> decodeQuickPreview(const QUrl &url) const override;
    std::optional<ImageProperties> readProperties(const QUrl &url) const override;
    std::optional<QImage> makeThumbnail(const QUrl &url, int maxPixelSize,
                                        std::optional<int> minEmbeddedSide = {}) const override;
    std::optional<DecodedImage> rotateDecodedImage(const DecodedImage &image,
                                                   int quarterTurns) const override;
    bool saveRotation(const QUrl &url, int quarterTurns) const override;
};

} // namespace orva
