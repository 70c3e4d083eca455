#include "core/runtime/TaskRuntime.h"
#include "imageio/Backends.h"
#include "imageio/DecodeLimits.h"
#include "imageio/HeifBoxes.h"

#include <QColorSpace>
#include <QFile>
#include <QThread>
#include <QtEndian>

#include <libheif/heif.h>

#include <memory>

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

QColorSpace colorSpaceOf(const heif_image_handle *h)
{
    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(h);
    if (iccSize > 0 && iccSize < (16u << 20)) {
        QByteArray icc(qsizetype(iccSize), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(h, icc.data()).code == heif_error_Ok) {
            const QColorSpace cs = QColorSpace::fromIccProfile(icc);
            if (cs.isValid())
                return cs;
        }
    }
    heif_color_profile_nclx *nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(h, &nclx).code != heif_error_Ok || !nclx)
        return {};
    QColorSpace cs;
    // Qt has no PQ or HLG curves; every transfer is shown through the sRGB curve, which
    // keeps the primaries (the larger error for wide-gamut photos) right.
    const auto curve = QColorSpace::TransferFunction::SRgb;
    switch (nclx->color_primaries) {
    case heif_color_primaries_ITU_R_BT_2020_2_and_2100_0:
        cs = QColorSpace(QPointF(0.3127, 0.3290), QPointF(0.708, 0.292), QPointF(0.170, 0.797),
                         QPointF(0.131, 0.046), curve);
        break;
    case heif_color_primaries_SMPTE_EG_432_1:
        cs = QColorSpace(QColorSpace::Primaries::DciP3D65, curve);
        break;
    case heif_color_primaries_ITU_R_BT_709_5:
    case heif_color_primaries_unspecified:
    default:
        cs = QColorSpace(QColorSpace::SRgb);
        break;
    }
    heif_nclx_color_profile_free(nclx);
    return cs;
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
    if (w <= 0 || ht <= 0 || qint64(w) * ht > DecodeLimits::maxPixels ||
        qint64(w) * ht * (bits > 8 ? 8 : 4) > DecodeLimits::maxImageBytes())
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
    out->setColorSpace(colorSpaceOf(h));
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
