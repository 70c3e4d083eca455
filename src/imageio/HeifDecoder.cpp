#include "core/runtime/TaskRuntime.h"
#include "imageio/Backends.h"
#include "imageio/DecodeLimits.h"
#include "imageio/HeifBoxes.h"
#include "imageio/HeifHevcDecoder.h"

#include <QColorSpace>
#include <QFile>
#include <QThread>
#include <QtEndian>

#include <libheif/heif.h>

#include <QFloat16>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace orva::heifdecoder {

namespace {

struct ContextDeleter {
    void operator()(heif_context *c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle *h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image *i) const { heif_image_release(i); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options *o) const { heif_decoding_options_free(o); }
};
using Context = std::unique_ptr<heif_context, ContextDeleter>;
using Handle = std::unique_ptr<heif_image_handle, HandleDeleter>;
using Image = std::unique_ptr<heif_image, ImageDeleter>;

struct Opened {
    Context context;
    Handle primary;
};

std::optional<Opened> open(const QString &path)
{
    registerThreadedHevcDecoder();
    Context ctx(heif_context_alloc());
    if (!ctx)
        return std::nullopt;
    heif_context_set_maximum_image_size_limit(ctx.get(), 1 << 16);
    // Grid images, the usual camera layout, decode their tiles in parallel.
    heif_context_set_max_decoding_threads(ctx.get(), std::max(1, QThread::idealThreadCount()));
    if (heif_context_read_from_file(ctx.get(), QFile::encodeName(path).constData(), nullptr).code !=
        heif_error_Ok)
        return std::nullopt;
    heif_image_handle *h = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &h).code != heif_error_Ok || !h)
        return std::nullopt;
    return Opened{std::move(ctx), Handle(h)};
}

// How the decoded values relate to light. PQ and HLG carry more than the display's range.
enum class Transfer { standard, pq, hlg };

struct Colour {
    QColorSpace space;
    Transfer transfer = Transfer::standard;
};

QColorSpace spaceWithPrimaries(uint16_t primaries, QColorSpace::TransferFunction curve)
{
    switch (primaries) {
    case heif_color_primaries_ITU_R_BT_2020_2_and_2100_0:
        return QColorSpace(QPointF(0.3127, 0.3290), QPointF(0.708, 0.292), QPointF(0.170, 0.797),
                           QPointF(0.131, 0.046), curve);
    case heif_color_primaries_SMPTE_EG_432_1:
        return QColorSpace(QColorSpace::Primaries::DciP3D65, curve);
    default:
        return QColorSpace(QColorSpace::Primaries::SRgb, curve);
    }
}

Colour colourOf(const heif_image_handle *h)
{
    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(h);
    if (iccSize > 0 && iccSize < (16u << 20)) {
        QByteArray icc(qsizetype(iccSize), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(h, icc.data()).code == heif_error_Ok) {
            const QColorSpace cs = QColorSpace::fromIccProfile(icc);
            if (cs.isValid())
                return {cs};
        }
    }
    heif_color_profile_nclx *nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(h, &nclx).code != heif_error_Ok || !nclx)
        return {};
    Colour c;
    switch (nclx->transfer_characteristics) {
    case heif_transfer_characteristic_ITU_R_BT_2100_0_PQ:
        c.transfer = Transfer::pq;
        break;
    case heif_transfer_characteristic_ITU_R_BT_2100_0_HLG:
        c.transfer = Transfer::hlg;
        break;
    default:
        break;
    }
    // HDR values are turned into linear light below; the rest keeps its encoding, shown
    // through the sRGB curve (Qt has no other curves of the nclx list).
    c.space =
        spaceWithPrimaries(nclx->color_primaries, c.transfer == Transfer::standard
                                                      ? QColorSpace::TransferFunction::SRgb
                                                      : QColorSpace::TransferFunction::Linear);
    heif_nclx_color_profile_free(nclx);
    return c;
}

// Diffuse white of HDR video and stills (ITU-R BT.2408): it becomes 1.0, highlights above.
constexpr double referenceWhiteNits = 203.0;

double pqToNits(double e)
{
    constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128;
    constexpr double c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32, c3 = 2392.0 / 4096 * 32;
    const double p = std::pow(std::clamp(e, 0.0, 1.0), 1.0 / m2);
    return 10000.0 * std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1.0 / m1);
}

// Scene light 0..1 of an HLG signal.
double hlgToScene(double e)
{
    constexpr double a = 0.17883277, b = 0.28466892, c = 0.55991073;
    e = std::clamp(e, 0.0, 1.0);
    return e <= 0.5 ? e * e / 3.0 : (std::exp((e - c) / a) + b) / 12.0;
}

// PQ or HLG signal values as linear light in half floats, 1.0 at reference white, so that
// the image keeps its highlights and display conversion can roll them off.
QImage linearizeHdr(const QImage &encoded, Transfer transfer)
{
    const bool alpha = encoded.hasAlphaChannel();
    const QImage src =
        encoded.convertToFormat(alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
    QImage out(src.size(), alpha ? QImage::Format_RGBA16FPx4 : QImage::Format_RGBX16FPx4);
    if (src.isNull() || out.isNull())
        return {};
    std::vector<float> lut(65536);
    for (size_t v = 0; v < lut.size(); ++v) {
        const double e = double(v) / 65535.0;
        lut[v] = float(transfer == Transfer::pq ? pqToNits(e) / referenceWhiteNits : hlgToScene(e));
    }
    // HLG's system gamma for a 1000-nit display (BT.2100), applied to scene luminance.
    constexpr double hlgPeakNits = 1000.0, hlgGamma = 1.2;
    for (int y = 0; y < src.height(); ++y) {
        const auto *s = reinterpret_cast<const quint16 *>(src.constScanLine(y));
        auto *d = reinterpret_cast<qfloat16 *>(out.scanLine(y));
        for (int x = 0; x < src.width(); ++x, s += 4, d += 4) {
            float r = lut[s[0]], g = lut[s[1]], b = lut[s[2]];
            if (transfer == Transfer::hlg) {
                const double ys = 0.2627 * r + 0.6780 * g + 0.0593 * b;
                const double k =
                    ys > 0 ? hlgPeakNits * std::pow(ys, hlgGamma - 1.0) / referenceWhiteNits : 0.0;
                r = float(r * k), g = float(g * k), b = float(b * k);
            }
            d[0] = qfloat16(r), d[1] = qfloat16(g), d[2] = qfloat16(b);
            d[3] = qfloat16(float(s[3]) / 65535.0f);
        }
    }
    return out;
}

void releaseHeifImage(void *image) { heif_image_release(static_cast<heif_image *>(image)); }

// Wraps a decoded interleaved image as a QImage. 8-bit RGBA is handed over without a copy
// (the QImage releases it); more than 8 bits are widened to 16 per channel.
std::optional<QImage> toQImage(Image img, int bits, bool alpha, bool premultiplied)
{
    const int w = heif_image_get_width(img.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(img.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t *plane =
        heif_image_get_plane_readonly(img.get(), heif_channel_interleaved, &stride);
    if (!plane || w <= 0 || h <= 0)
        return std::nullopt;
    if (bits <= 8) {
        const QImage::Format format = alpha ? (premultiplied ? QImage::Format_RGBA8888_Premultiplied
                                                             : QImage::Format_RGBA8888)
                                            : QImage::Format_RGBX8888;
        heif_image *owned = img.release();
        QImage out(plane, w, h, stride, format, releaseHeifImage, owned);
        if (out.isNull()) {
            heif_image_release(owned);
            return std::nullopt;
        }
        return out;
    }
    QImage out(w, h,
               alpha ? (premultiplied ? QImage::Format_RGBA64_Premultiplied : QImage::Format_RGBA64)
                     : QImage::Format_RGBX64);
    if (out.isNull())
        return std::nullopt;
    const int channels = alpha ? 4 : 3;
    const int up = 16 - bits;
    const int down = std::max(0, bits - up);
    for (int y = 0; y < h; ++y) {
        const auto *src = reinterpret_cast<const uint16_t *>(plane + qsizetype(y) * stride);
        auto *dst = reinterpret_cast<uint16_t *>(out.scanLine(y));
        for (int x = 0; x < w; ++x, src += channels, dst += 4) {
            for (int c = 0; c < channels; ++c) {
                const uint16_t v = uint16_t(qFromLittleEndian(src[c]) & ((1u << bits) - 1));
                dst[c] = uint16_t((v << up) | (v >> down));
            }
            if (!alpha)
                dst[3] = 0xffff;
        }
    }
    return out;
}

std::optional<QImage> decodeHandle(heif_image_handle *h, int bound)
{
    const int w = heif_image_handle_get_width(h);
    const int ht = heif_image_handle_get_height(h);
    const int bits = std::clamp(heif_image_handle_get_luma_bits_per_pixel(h), 8, 16);
    const bool alpha = heif_image_handle_has_alpha_channel(h);
    const qint64 pixels = qint64(w) * ht;
    if (w <= 0 || ht <= 0 || pixels > DecodeLimits::maxPixels ||
        pixels * (bits > 8 ? 8 : 4) > DecodeLimits::maxImageBytes())
        return std::nullopt;
    // libheif's YCbCr planes and alpha, its interleaved output, and for HDR the linear copy.
    const qint64 working = pixels * (bits > 8 ? 2 * 4 + 8 + 16 : 4 + 4 + 16);
    if (!DecodeLimits::fitsWorkingMemory(working))
        return std::nullopt;
    if (CancellationToken::current().isCancelled())
        return std::nullopt;
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 0;
    const heif_chroma chroma =
        bits > 8 ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                 : heif_chroma_interleaved_RGBA; // 4 bytes a pixel: Qt draws and scales it as is
    heif_image *raw = nullptr;
    if (heif_decode_image(h, &raw, heif_colorspace_RGB, chroma, options.get()).code !=
            heif_error_Ok ||
        !raw)
        return std::nullopt;
    auto out = toQImage(Image(raw), bits, alpha, heif_image_handle_is_premultiplied_alpha(h));
    if (!out)
        return std::nullopt;
    const Colour colour = colourOf(h);
    if (colour.transfer != Transfer::standard) {
        *out = linearizeHdr(*out, colour.transfer);
        if (out->isNull())
            return std::nullopt;
    }
    out->setColorSpace(colour.space);
    return scaledToBound(*out, bound);
}

} // namespace

std::optional<ImageSource> probe(const QString &path, const QString &mimeType)
{
    auto opened = open(path);
    if (!opened)
        return std::nullopt;
    heif_image_handle *h = opened->primary.get();
    ImageSource source;
    source.path = path;
    source.mimeType = mimeType;
    source.kind = DecoderKind::heif;
    source.storedSize =
        QSize(heif_image_handle_get_ispe_width(h), heif_image_handle_get_ispe_height(h));
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        if (const auto t = readHeifPrimaryTransform(file))
            source.orientation = exifOrientation(*t);
    // libheif's own view of the oriented size is what decoding produces; if the boxes
    // disagree with it, trust the decoder.
    const QSize oriented(heif_image_handle_get_width(h), heif_image_handle_get_height(h));
    if (oriented.isValid() && source.storedSize.isValid() &&
        (swapsSides(source.orientation) ? source.storedSize.transposed() : source.storedSize) !=
            oriented)
        source.orientation = oriented == source.storedSize.transposed() ? 6 : 1;
    if (!source.storedSize.isValid() || source.storedSize.isEmpty())
        source.storedSize = swapsSides(source.orientation) ? oriented.transposed() : oriented;
    source.frameCount =
        std::max(1, heif_context_get_number_of_top_level_images(opened->context.get()));
    return source;
}

std::optional<QImage> decode(const ImageSource &source, int bound)
{
    auto opened = open(source.path);
    if (!opened)
        return std::nullopt;
    return decodeHandle(opened->primary.get(), bound);
}

std::optional<QImage> thumbnail(const ImageSource &source, int minSide)
{
    auto opened = open(source.path);
    if (!opened)
        return std::nullopt;
    heif_image_handle *h = opened->primary.get();
    const int count = std::min(heif_image_handle_get_number_of_thumbnails(h), 8);
    if (count <= 0)
        return std::nullopt;
    heif_item_id ids[8];
    heif_image_handle_get_list_of_thumbnail_IDs(h, ids, count);
    for (int i = 0; i < count; ++i) {
        heif_image_handle *t = nullptr;
        if (heif_image_handle_get_thumbnail(h, ids[i], &t).code != heif_error_Ok || !t)
            continue;
        Handle thumb(t);
        const int side = std::max(heif_image_handle_get_width(t), heif_image_handle_get_height(t));
        if (side >= minSide)
            return decodeHandle(t, side);
    }
    return std::nullopt;
}

} // namespace orva::heifdecoder
