#pragma once

#include <QImage>
#include <QSizeF>

#include <memory>
#include <optional>
#include <vector>

namespace orva {

// One frame of a displayable image and how long it stays on screen.
struct ImageFrame {
    QImage image;
    int delayMs = 0;
};

// What a view draws: one or more frames and the point size they occupy. The point size
// is the oriented full-resolution size of the file, whatever was decoded, so that a
// preview and the full image cover the same geometry.
struct DisplayImage {
    QSizeF pointSize;
    std::vector<ImageFrame> frames;
    int loopCount = 0; // extra plays after the first; -1 loops forever

    bool isAnimated() const { return frames.size() > 1; }
};

// The immutable result of decoding a file. Copies share the underlying images.
struct DecodedImage {
    std::shared_ptr<const DisplayImage> image;
    std::optional<QImage> bitmap; // absent for animated images
    std::shared_ptr<const DisplayImage> preview;
    double resolution = 1.0; // decoded width / oriented full width, at most 1

    // Identity, not pixels: a decode result is never mutated, so sharing means equal.
    friend bool operator==(const DecodedImage &a, const DecodedImage &b)
    {
        return a.image == b.image && a.preview == b.preview && a.resolution == b.resolution &&
               a.bitmap.has_value() == b.bitmap.has_value() &&
               (!a.bitmap || a.bitmap->cacheKey() == b.bitmap->cacheKey());
    }
};

// Why a file could not be shown, in words a user understands.
enum class DecodeFailure {
    unreadable,       // no decoder recognises the contents
    damaged,          // recognised, but its data cannot be decoded
    tooLarge,         // beyond what Orva decodes (size or memory)
    permissionDenied, // the file cannot be opened for reading
    missing,          // the file is not there (any more)
    noImages,         // a folder without any image Orva can read
};

// A decode with the reason for its failure.
struct DecodeOutcome {
    std::optional<DecodedImage> image;
    DecodeFailure failure = DecodeFailure::unreadable; // meaningful only without an image
};

} // namespace orva
