#pragma once

// The decoders behind the image layer, one namespace each. Every function takes a source
// from the same backend's probe() and reports failure as an absent result.
#include "imageio/ImageSource.h"
#include "imageio/QtDecoder.h"

#include <QImage>

#include <optional>

namespace orva::heifdecoder {
std::optional<ImageSource> probe(const QString &path, const QString &mimeType);
// The primary image, irot/imir applied, reduced to `bound` on its longer side; 10- and
// 12-bit images keep 16 bits per channel.
std::optional<QImage> decode(const ImageSource &source, int bound);
// The primary image's thumbnail item when its longer side reaches `minSide`.
std::optional<QImage> thumbnail(const ImageSource &source, int minSide);
} // namespace orva::heifdecoder

namespace orva::rawdecoder {
std::optional<ImageSource> probe(const QString &path, const QString &mimeType);
// Developed sensor data, orientation applied; half size when that still meets `bound`.
std::optional<QImage> decode(const ImageSource &source, int bound);
// The camera's embedded preview when its longer side reaches `minSide`.
std::optional<QImage> thumbnail(const ImageSource &source, int minSide);
} // namespace orva::rawdecoder

namespace orva::psddecoder {
std::optional<ImageSource> probe(const QString &path, const QString &mimeType);
std::optional<QImage> decode(const ImageSource &source, int bound);
} // namespace orva::psddecoder

namespace orva {
// Reduces an image to `bound` on its longer side with a filtered scale; smaller images
// are returned as they are.
QImage scaledToBound(const QImage &image, int bound);
} // namespace orva
