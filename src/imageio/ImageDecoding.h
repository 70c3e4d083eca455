#pragma once

#include "core/model/DecodedImage.h"
#include "imageio/ImageSource.h"

#include <QImage>
#include <QSizeF>
#include <QUrl>

#include <memory>
#include <optional>

namespace orva {

// Decodes frame 0 of a file with its stored orientation applied, or every frame of an
// animated GIF, PNG or WebP. With `maxPixelSize` the still decode is reduced to about that
// many pixels on its longer side (never more than the file has); without it, full
// resolution. Checks the calling task's cancellation before opening the file and before
// the expensive decode. Absent on any failure, with the reason in `failure` when given.
// Runs on a background task.
std::optional<DecodedImage> decodeImage(const QUrl &url, std::optional<int> maxPixelSize = {},
                                        DecodeFailure *failure = nullptr);

// The thumbnail item of a HEIF or AVIF file (whose full decode takes long), orientation
// applied, as a DecodedImage of the file's full point size; absent for other files and
// files without one. Runs on a background task.
std::optional<DecodedImage> decodeEmbeddedPreview(const QUrl &url);

// A bitmap of frame 0 no larger than `maxPixelSize` on its longer side, orientation
// applied; may come from a thumbnail embedded in the file when its longer side reaches
// `minEmbeddedSide` (by default `maxPixelSize`: as large as asked for).
std::optional<QImage> makeThumbnail(const QUrl &url, int maxPixelSize,
                                    std::optional<int> minEmbeddedSide = {});

// A copy of `bitmap` at most 256 pixels on its longer side, 8-bit sRGB with premultiplied
// alpha, standing for an image of point size `size`. Never fails: an image that cannot be
// drawn gives an empty preview of that point size.
std::shared_ptr<DisplayImage> makePreviewImage(const QImage &bitmap, QSizeF size);

// Sets the point size of a multi-frame image to its largest frame width and height.
DisplayImage &normalizeToPixelSize(DisplayImage &image);

inline constexpr int previewPixelLimit = 256;

} // namespace orva
