#pragma once

#include "core/model/DecodedImage.h"
#include "imageio/ImageSource.h"

#include <QImage>

#include <functional>
#include <memory>
#include <optional>

namespace orva::qtdecoder {

std::optional<ImageSource> probe(const QString &path, const QString &mimeType);
// Frame 0 (the largest entry of an icon), orientation applied, its longer side reduced
// to about `bound` (JPEG stops at the nearest cheaper DCT scale at or above it).
std::optional<QImage> decodeStill(const ImageSource &source, int bound);
// Every frame on the full canvas with its delay; nothing once `isCancelled` (checked before
// each frame) fires.
std::shared_ptr<DisplayImage> decodeAnimated(const ImageSource &source,
                                             const std::function<bool()> &isCancelled);
// A JPEG's embedded Exif thumbnail, orientation applied, when its longer side reaches
// `minSide`.
std::optional<QImage> embeddedThumbnail(const ImageSource &source, int minSide);

} // namespace orva::qtdecoder
