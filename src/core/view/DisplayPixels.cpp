#include "core/view/DisplayPixels.h"

#include <QColorSpace>
#include <QColorTransform>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace orva {

namespace {

// Values up to the knee are shown as they are; only highlights are compressed.
constexpr float knee = 0.75f;
// Rows converted at a time: a float band of a wide photo stays at a few megabytes.
constexpr qsizetype bandBytes = 4 << 20;

bool isFloatFormat(QImage::Format f)
{
    switch (f) {
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return true;
    default:
        return false;
    }
}

// More than 8 bits per component.
bool isDeepFormat(QImage::Format f)
{
    switch (f) {
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied:
        return true;
    default:
        return isFloatFormat(f);
    }
}

std::optional<QColorTransform> transformToSrgb(const QImage &bitmap)
{
    const QColorSpace cs = bitmap.colorSpace();
    const QColorSpace srgb(QColorSpace::SRgb);
    if (!cs.isValid() || cs == srgb)
        return std::nullopt;
    return cs.transformationToColorSpace(srgb);
}

// The brightest finite colour component of a float image.
float peakOf(const QImage &bitmap, QImage::Format floatFormat)
{
    float peak = 0;
    const int rowsPerBand =
        int(std::max<qsizetype>(1, bandBytes / (qsizetype(bitmap.width()) * 16)));
    for (int y0 = 0; y0 < bitmap.height(); y0 += rowsPerBand) {
        const int rows = std::min(rowsPerBand, bitmap.height() - y0);
        const QImage band = QImage(bitmap.constScanLine(y0), bitmap.width(), rows,
                                   bitmap.bytesPerLine(), bitmap.format())
                                .convertToFormat(floatFormat);
        for (int y = 0; y < rows; ++y) {
            const auto *px = reinterpret_cast<const float *>(band.constScanLine(y));
            for (int x = 0; x < band.width() * 4; x += 4)
                for (int c = 0; c < 3; ++c)
                    if (std::isfinite(px[x + c]))
                        peak = std::max(peak, px[x + c]);
        }
    }
    return peak;
}

// Identity up to the knee, then a smooth curve (extended Reinhard on the excess) that
// reaches 1.0 at `peak`, with no kink at the knee.
float rollOffHighlight(float value, float peak)
{
    if (!(value > knee) || !(peak > 1.0f))
        return value;
    const float s = 1.0f - knee;
    const float y = (value - knee) / s;
    const float w = (peak - knee) / s;
    return knee + s * y * (1.0f + y / (w * w)) / (1.0f + y);
}

// Brings every colour of a float band into 0..1: highlights rolled off by their brightest
// component (keeping the hue), negative and non-finite values made 0.
void compressRange(QImage &band, float peak)
{
    for (int y = 0; y < band.height(); ++y) {
        auto *px = reinterpret_cast<float *>(band.scanLine(y));
        for (int x = 0; x < band.width() * 4; x += 4) {
            float *p = px + x;
            for (int c = 0; c < 4; ++c)
                p[c] = std::isfinite(p[c]) ? std::max(p[c], 0.0f) : 0.0f;
            const float m = std::max({p[0], p[1], p[2]});
            if (peak > 1.0f && m > knee) {
                const float scale = rollOffHighlight(m, peak) / m;
                for (int c = 0; c < 3; ++c)
                    p[c] *= scale;
            }
            for (int c = 0; c < 4; ++c)
                p[c] = std::min(p[c], 1.0f);
        }
    }
}

QImage deepToDisplay(const QImage &bitmap)
{
    const bool alpha = bitmap.hasAlphaChannel();
    const bool isFloat = isFloatFormat(bitmap.format());
    const QImage::Format floatFormat =
        alpha ? QImage::Format_RGBA32FPx4 : QImage::Format_RGBX32FPx4;
    const QImage::Format deepFormat = alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64;
    QImage out(bitmap.size(), alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (out.isNull())
        return {};
    const auto transform = transformToSrgb(bitmap);
    const float peak = isFloat ? peakOf(bitmap, floatFormat) : 0.0f;
    const int rowsPerBand =
        int(std::max<qsizetype>(1, bandBytes / (qsizetype(bitmap.width()) * 16)));
    for (int y0 = 0; y0 < bitmap.height(); y0 += rowsPerBand) {
        const int rows = std::min(rowsPerBand, bitmap.height() - y0);
        const QImage source(bitmap.constScanLine(y0), bitmap.width(), rows, bitmap.bytesPerLine(),
                            bitmap.format());
        QImage band;
        if (isFloat) {
            band = source.convertToFormat(floatFormat);
            compressRange(band, peak);
        }
        band = (isFloat ? band : source).convertToFormat(deepFormat);
        if (transform)
            band.applyColorTransform(*transform); // at 16 bits: no bands in the shadows
        band = band.convertToFormat(out.format());
        if (band.isNull())
            return {};
        for (int y = 0; y < rows; ++y)
            std::memcpy(out.scanLine(y0 + y), band.constScanLine(y),
                        size_t(std::min(out.bytesPerLine(), band.bytesPerLine())));
    }
    out.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return out;
}

} // namespace

QImage toDisplayPixels(const QImage &bitmap)
{
    if (bitmap.isNull())
        return {};
    if (isDeepFormat(bitmap.format()))
        return deepToDisplay(bitmap);
    const QColorSpace srgb(QColorSpace::SRgb);
    const QColorSpace cs = bitmap.colorSpace();
    const bool drawable = bitmap.format() == QImage::Format_RGB32 ||
                          bitmap.format() == QImage::Format_ARGB32_Premultiplied;
    if (drawable && (!cs.isValid() || cs == srgb))
        return bitmap;
    QImage out = bitmap.convertToFormat(
        bitmap.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (cs.isValid() && cs != srgb)
        out.convertToColorSpace(srgb);
    out.setColorSpace(srgb);
    return out;
}

} // namespace orva
