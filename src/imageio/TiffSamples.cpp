#include "imageio/TiffSamples.h"

#include "imageio/DecodeLimits.h"

#include <QColorSpace>
#include <QFile>

#include <tiffio.h>

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace orva {

namespace {

struct TiffCloser {
    void operator()(TIFF *t) const { TIFFClose(t); }
};

struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 0, format = SAMPLEFORMAT_UINT, photometric = 0, planar = 1;
    int colours = 1;    // 1 grey or 3 RGB
    bool alpha = false; // one extra sample after the colours
};

// One sample as a float; integers span 0..1 over their bit pattern, as Qt shows the
// integer samples it reads itself.
float sampleAt(const uchar *p, const Layout &l)
{
    switch (l.format) {
    case SAMPLEFORMAT_IEEEFP:
        if (l.bits == 64) {
            double d;
            std::memcpy(&d, p, 8);
            return float(d);
        } else {
            float f;
            std::memcpy(&f, p, 4);
            return f;
        }
    default: {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return float(double(v) / 4294967295.0);
    }
    }
}

std::optional<Layout> layoutOf(TIFF *tif)
{
    Layout l;
    uint16_t extraCount = 0;
    uint16_t *extra = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height) ||
        !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric))
        return std::nullopt;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &l.format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    const bool wideFloat = l.format == SAMPLEFORMAT_IEEEFP && l.bits == 64;
    const bool wideInt =
        (l.format == SAMPLEFORMAT_UINT || l.format == SAMPLEFORMAT_INT) && l.bits == 32;
    if (!wideFloat && !wideInt)
        return std::nullopt;
    if (l.photometric == PHOTOMETRIC_RGB)
        l.colours = 3;
    else if (l.photometric != PHOTOMETRIC_MINISBLACK && l.photometric != PHOTOMETRIC_MINISWHITE)
        return std::nullopt;
    l.alpha = l.samples > l.colours && extraCount > 0;
    if (l.samples < l.colours || l.samples > 8 || l.width == 0 || l.height == 0 ||
        l.width > uint32_t(DecodeLimits::maxSide) || l.height > uint32_t(DecodeLimits::maxSide) ||
        qint64(l.width) * l.height * 16 > DecodeLimits::maxImageBytes())
        return std::nullopt;
    return l;
}

// Writes sample `s` of `count` pixels (`stride` bytes apart) into row `y` from column `x`.
void store(QImage &out, const Layout &l, int y, int x, int count, int s, const uchar *p, int stride)
{
    auto *row = reinterpret_cast<float *>(out.scanLine(y)) + 4 * x;
    for (int i = 0; i < count && x + i < out.width(); ++i, p += stride) {
        float v = sampleAt(p, l);
        if (s < l.colours && l.photometric == PHOTOMETRIC_MINISWHITE)
            v = 1.0f - v;
        float *px = row + 4 * i;
        if (s < l.colours) {
            for (int c = (l.colours == 1 ? 0 : s); c < (l.colours == 1 ? 3 : s + 1); ++c)
                px[c] = v;
        } else if (s == l.colours && l.alpha) {
            px[3] = v;
        }
    }
}

} // namespace

QImage readTiffSamples(const QString &path)
{
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(QFile::encodeName(path).constData(), "r"));
    if (!tif)
        return {};
    const auto l = layoutOf(tif.get());
    if (!l)
        return {};
    QImage out(int(l->width), int(l->height),
               l->alpha ? QImage::Format_RGBA32FPx4 : QImage::Format_RGBX32FPx4);
    if (out.isNull())
        return {};
    out.fill(Qt::white); // alpha 1 where the file has none
    const int bytes = l->bits / 8;
    const bool contiguous = l->planar == PLANARCONFIG_CONTIG;
    const int planes = contiguous ? 1 : l->samples;
    const int perPixel = contiguous ? l->samples : 1;
    auto storeRun = [&](int y, int x, int count, int plane, const uchar *p) {
        for (int s = 0; s < perPixel; ++s)
            store(out, *l, y, x, count, contiguous ? s : plane, p + s * bytes, perPixel * bytes);
    };
    if (TIFFIsTiled(tif.get())) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(tif.get(), TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &th);
        const tmsize_t tileBytes = TIFFTileSize(tif.get());
        if (tw == 0 || th == 0 || tileBytes <= 0 ||
            tileBytes < tmsize_t(tw) * th * perPixel * bytes || tileBytes > (256 << 20))
            return {};
        std::vector<uchar> tile(static_cast<size_t>(tileBytes));
        for (int plane = 0; plane < planes; ++plane)
            for (uint32_t ty = 0; ty < l->height; ty += th)
                for (uint32_t tx = 0; tx < l->width; tx += tw) {
                    if (TIFFReadTile(tif.get(), tile.data(), tx, ty, 0, uint16_t(plane)) < 0)
                        return {};
                    for (uint32_t r = 0; r < th && ty + r < l->height; ++r)
                        storeRun(int(ty + r), int(tx), int(tw), plane,
                                 tile.data() + size_t(r) * tw * perPixel * bytes);
                }
    } else {
        const tmsize_t lineBytes = TIFFScanlineSize(tif.get());
        if (lineBytes < tmsize_t(l->width) * perPixel * bytes)
            return {};
        std::vector<uchar> line(static_cast<size_t>(lineBytes));
        for (int plane = 0; plane < planes; ++plane)
            for (uint32_t y = 0; y < l->height; ++y) {
                if (TIFFReadScanline(tif.get(), line.data(), y, uint16_t(plane)) < 0)
                    return {};
                storeRun(int(y), 0, int(l->width), plane, line.data());
            }
    }
    uint32_t iccSize = 0;
    void *icc = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0)
        out.setColorSpace(QColorSpace::fromIccProfile(
            QByteArray(static_cast<const char *>(icc), qsizetype(iccSize))));
    return out;
}

} // namespace orva
