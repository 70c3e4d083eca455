#include "imageio/Rotation.h"

#include "imageio/ImageDecoding.h"

#include <QColorSpace>

#include <cstring>

namespace orva {

namespace {

// Source pixel (x, y) lands at destination row r, column c:
//   1 turn: r = x, c = H-1-y;  2 turns: r = H-1-y, c = W-1-x;  3 turns: r = W-1-x, c = y.
// Walked in square tiles so that both sides stay in cache for a 90-degree turn.
template <int B>
void rotatePixels(const uchar *src, qsizetype srcStride, int w, int h, uchar *dst,
                  qsizetype dstStride, int turns)
{
    constexpr int tile = 64;
    for (int ty = 0; ty < h; ty += tile) {
        const int yEnd = std::min(h, ty + tile);
        for (int tx = 0; tx < w; tx += tile) {
            const int xEnd = std::min(w, tx + tile);
            for (int y = ty; y < yEnd; ++y) {
                const uchar *row = src + y * srcStride;
                for (int x = tx; x < xEnd; ++x) {
                    int r = 0;
                    int c = 0;
                    switch (turns) {
                    case 1:
                        r = x;
                        c = h - 1 - y;
                        break;
                    case 2:
                        r = h - 1 - y;
                        c = w - 1 - x;
                        break;
                    default:
                        r = w - 1 - x;
                        c = y;
                        break;
                    }
                    std::memcpy(dst + r * dstStride + qsizetype(c) * B, row + qsizetype(x) * B, B);
                }
            }
        }
    }
}

using RotateFn = void (*)(const uchar *, qsizetype, int, int, uchar *, qsizetype, int);

RotateFn rotatorFor(int bytesPerPixel)
{
    switch (bytesPerPixel) {
    case 1:
        return rotatePixels<1>;
    case 2:
        return rotatePixels<2>;
    case 3:
        return rotatePixels<3>;
    case 4:
        return rotatePixels<4>;
    case 6:
        return rotatePixels<6>;
    case 8:
        return rotatePixels<8>;
    case 16:
        return rotatePixels<16>;
    default:
        return nullptr;
    }
}

std::optional<QImage> rotateWholeBytes(const QImage &src, int turns)
{
    const RotateFn rotate = rotatorFor(src.depth() / 8);
    if (!rotate)
        return std::nullopt;
    const bool swap = turns != 2;
    QImage dst(swap ? src.height() : src.width(), swap ? src.width() : src.height(), src.format());
    if (dst.isNull())
        return std::nullopt;
    rotate(src.constBits(), src.bytesPerLine(), src.width(), src.height(), dst.bits(),
           dst.bytesPerLine(), turns);
    return dst;
}

} // namespace

std::optional<QImage> rotateBitmap(const QImage &bitmap, int quarterTurns)
{
    const int t = normalizedQuarterTurns(quarterTurns);
    if (bitmap.isNull())
        return std::nullopt;
    if (t == 0)
        return bitmap;
    std::optional<QImage> out;
    if (bitmap.depth() % 8 == 0) {
        out = rotateWholeBytes(bitmap, t);
    } else {
        // One-bit pixels share bytes: turn them as one byte each, then pack them again
        // with the same two colours.
        const QImage wide = bitmap.convertToFormat(QImage::Format_Indexed8);
        out = wide.isNull() ? std::nullopt : rotateWholeBytes(wide, t);
        if (out) {
            out->setColorTable(wide.colorTable());
            *out = out->convertToFormat(bitmap.format(), bitmap.colorTable(), Qt::ThresholdDither);
            if (out->isNull())
                return std::nullopt;
        }
    }
    if (!out)
        return std::nullopt;
    if (bitmap.format() != QImage::Format_Mono && bitmap.format() != QImage::Format_MonoLSB)
        out->setColorTable(bitmap.colorTable());
    out->setColorSpace(bitmap.colorSpace());
    const bool swap = t != 2;
    out->setDotsPerMeterX(swap ? bitmap.dotsPerMeterY() : bitmap.dotsPerMeterX());
    out->setDotsPerMeterY(swap ? bitmap.dotsPerMeterX() : bitmap.dotsPerMeterY());
    out->setDevicePixelRatio(bitmap.devicePixelRatio());
    for (const QString &key : bitmap.textKeys())
        out->setText(key, bitmap.text(key));
    return out;
}

std::optional<DecodedImage> rotateDecodedImage(const DecodedImage &image, int quarterTurns)
{
    const int t = normalizedQuarterTurns(quarterTurns);
    QImage bitmap;
    if (image.bitmap)
        bitmap = *image.bitmap;
    else if (image.image && !image.image->frames.empty())
        bitmap = image.image->frames.front().image;
    const std::optional<QImage> rotated = rotateBitmap(bitmap, t);
    if (!rotated)
        return std::nullopt;
    QSizeF size = image.image ? image.image->pointSize : QSizeF(bitmap.size());
    if (t % 2 == 1)
        size.transpose();
    auto display = std::make_shared<DisplayImage>();
    display->pointSize = size;
    display->frames.push_back({*rotated, 0});
    return DecodedImage{std::move(display), *rotated, makePreviewImage(*rotated, size),
                        image.resolution};
}

std::uint32_t rotatedOrientation(std::uint32_t orientation, int quarterTurns)
{
    // One clockwise quarter turn, indexed by the orientation before it.
    static constexpr std::uint32_t quarter[9] = {0, 6, 5, 8, 7, 4, 3, 2, 1};
    if (orientation < 1 || orientation > 8)
        return orientation;
    for (int i = 0; i < normalizedQuarterTurns(quarterTurns); ++i)
        orientation = quarter[orientation];
    return orientation;
}

} // namespace orva
