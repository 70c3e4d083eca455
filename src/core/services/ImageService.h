#pragma once

#include "core/model/DecodedImage.h"
#include "core/model/ImageProperties.h"

#include <QImage>
#include <QSet>
#include <QString>
#include <QUrl>

#include <optional>

namespace orva {

// The image layer as the logic sees it. Every call may run on any background thread at
// the same time as others; implementations hold no mutable state.
class ImageService {
public:
    virtual ~ImageService() = default;
    // Lower-case file-name extensions some decoder reads.
    virtual const QSet<QString> &supportedExtensions() const = 0;
    // A file URL with a supported extension that is not a directory; opens nothing.
    virtual bool isSupportedImageFile(const QUrl &url) const = 0;
    // Frame 0 (or every frame of an animation), bounded to about `maxPixelSize` on the
    // longer side when given; absent on failure or cancellation of the calling task.
    virtual std::optional<DecodedImage> decodeImage(const QUrl &url,
                                                    std::optional<int> maxPixelSize) const = 0;
    // The same decode, telling why it failed; a layer that cannot tell says `unreadable`.
    virtual DecodeOutcome decodeWithReason(const QUrl &url, std::optional<int> maxPixelSize) const
    {
        return DecodeOutcome{decodeImage(url, maxPixelSize)};
    }
    // A rough first version of a file that decodes slowly: the small image stored in it for
    // quick display (a HEIF thumbnail item), standing for the whole image at a low
    // resolution. Absent when the file has none or decodes quickly anyway.
    virtual std::optional<DecodedImage> decodeQuickPreview(const QUrl &url) const
    {
        Q_UNUSED(url);
        return std::nullopt;
    }
    // Properties of frame 0 without decoding pixels; absent when no decoder knows the file.
    virtual std::optional<ImageProperties> readProperties(const QUrl &url) const = 0;
    // Frame 0 at most `maxPixelSize` on its longer side, orientation applied; a thumbnail
    // embedded in the file serves when its longer side reaches `minEmbeddedSide` (by
    // default the bound itself). Absent on failure (and from services that make none).
    virtual std::optional<QImage> makeThumbnail(const QUrl &url, int maxPixelSize,
                                                std::optional<int> minEmbeddedSide = {}) const
    {
        Q_UNUSED(url);
        Q_UNUSED(maxPixelSize);
        Q_UNUSED(minEmbeddedSide);
        return std::nullopt;
    }
    // The image turned by clockwise quarter turns (an animation becomes its first frame,
    // turned); absent when its pixels cannot be rotated.
    virtual std::optional<DecodedImage> rotateDecodedImage(const DecodedImage &,
                                                           int /*quarterTurns*/) const
    {
        return std::nullopt;
    }
    // Writes the rotation into the file; true when the file now holds it. False leaves the
    // file untouched: the rotation can then only be shown.
    virtual bool saveRotation(const QUrl &, int /*quarterTurns*/) const { return false; }
};

} // namespace orva
