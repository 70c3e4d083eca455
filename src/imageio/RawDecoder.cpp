#include "core/runtime/TaskRuntime.h"
#include "imageio/Backends.h"
#include "imageio/DecodeLimits.h"
#include "imageio/Orientation.h"

#include <QColorSpace>
#include <QFile>

#include <libraw/libraw.h>

#include <memory>

namespace orva::rawdecoder {

namespace {

// LibRaw's flip codes as EXIF orientations.
int orientationForFlip(int flip)
{
    switch (flip) {
    case 3:
        return 3;
    case 5:
        return 8;
    case 6:
        return 6;
    default:
        return 1;
    }
}

int cancelOnRequest(void *token, LibRaw_progress, int, int)
{
    return static_cast<const CancellationToken *>(token)->isCancelled() ? 1 : 0;
}

// LibRaw with a view of where the sensor data lies, which it keeps to itself.
class RawFile : public LibRaw {
public:
    RawFile() : LibRaw(LIBRAW_OPTIONS_NONE) {}
    // Camera files stripped for their metadata keep the headers but lose the sensor data:
    // it lies past the end of the file, or what is left of it is far less than any codec
    // needs (under one bit for 64 pixels). LibRaw would decode the gap as a black picture.
    bool hasSensorData()
    {
        auto *input = libraw_internal_data.internal_data.input;
        const INT64 offset = libraw_internal_data.unpacker_data.data_offset;
        const INT64 size = libraw_internal_data.unpacker_data.data_size;
        const INT64 pixels = INT64(imgdata.sizes.raw_width) * imgdata.sizes.raw_height;
        return input && offset >= 0 && offset < input->size() && (size <= 0 || size >= pixels / 64);
    }
};

// LibRaw's object is large (its tables run to megabytes), so it lives on the heap.
std::unique_ptr<RawFile> open(const QString &path)
{
    auto raw = std::make_unique<RawFile>();
    raw->imgdata.params.max_raw_memory_mb = unsigned(DecodeLimits::maxImageBytes() >> 20);
    if (raw->open_file(QFile::encodeName(path).constData()) != LIBRAW_SUCCESS)
        return nullptr;
    const auto &s = raw->imgdata.sizes;
    if (s.width == 0 || s.height == 0)
        return nullptr;
    return raw;
}

struct MemImageDeleter {
    void operator()(libraw_processed_image_t *p) const { LibRaw::dcraw_clear_mem(p); }
};

} // namespace

std::optional<ImageSource> probe(const QString &path, const QString &mimeType)
{
    const auto raw = open(path);
    if (!raw)
        return std::nullopt;
    ImageSource source;
    source.path = path;
    source.mimeType = mimeType;
    source.kind = DecoderKind::raw;
    source.storedSize = QSize(raw->imgdata.sizes.width, raw->imgdata.sizes.height);
    source.sensorSize = QSize(raw->imgdata.sizes.raw_width, raw->imgdata.sizes.raw_height);
    source.orientation = orientationForFlip(raw->imgdata.sizes.flip);
    return source;
}

std::optional<QImage> decode(const ImageSource &source, int bound)
{
    const auto raw = open(source.path);
    if (!raw)
        return std::nullopt;
    const auto &sizes = raw->imgdata.sizes;
    const qint64 pixels = qint64(sizes.width) * sizes.height;
    if (pixels > DecodeLimits::maxPixels || pixels * 8 > DecodeLimits::maxImageBytes() ||
        !raw->hasSensorData())
        return std::nullopt;
    auto &params = raw->imgdata.params;
    params.use_camera_wb = 1;
    params.output_bps = 16; // keep the sensor's range
    params.half_size = 2 * bound <= std::max<int>(sizes.width, sizes.height) ? 1 : 0;
    // The raw samples (one a pixel behind a colour filter, up to four otherwise), LibRaw's
    // 4-channel working image (and interpolation's copy), its 16-bit output and our image.
    const qint64 developed = params.half_size ? pixels / 4 : pixels;
    const int samples = raw->imgdata.idata.filters ? 1 : 4;
    const qint64 working = qint64(sizes.raw_width) * sizes.raw_height * 2 * samples +
                           developed * (params.half_size ? 8 : 16) + developed * (6 + 8);
    if (!DecodeLimits::fitsWorkingMemory(working))
        return std::nullopt;
    const CancellationToken token = CancellationToken::current();
    raw->set_progress_handler(cancelOnRequest, const_cast<CancellationToken *>(&token));
    if (token.isCancelled() || raw->unpack() != LIBRAW_SUCCESS ||
        raw->dcraw_process() != LIBRAW_SUCCESS)
        return std::nullopt;
    int err = 0;
    std::unique_ptr<libraw_processed_image_t, MemImageDeleter> mem(raw->dcraw_make_mem_image(&err));
    if (!mem || err != LIBRAW_SUCCESS || mem->type != LIBRAW_IMAGE_BITMAP || mem->width == 0 ||
        mem->height == 0 || (mem->colors != 3 && mem->colors != 1) ||
        (mem->bits != 8 && mem->bits != 16))
        return std::nullopt;
    const int w = mem->width;
    const int h = mem->height;
    const int colors = mem->colors;
    if (qint64(mem->data_size) < qint64(w) * h * colors * (mem->bits / 8))
        return std::nullopt;
    QImage out(w, h, mem->bits == 16 ? QImage::Format_RGBX64 : QImage::Format_RGB888);
    if (out.isNull())
        return std::nullopt;
    for (int y = 0; y < h; ++y) {
        if (mem->bits == 16) {
            const auto *src =
                reinterpret_cast<const uint16_t *>(mem->data) + qsizetype(y) * w * colors;
            auto *dst = reinterpret_cast<uint16_t *>(out.scanLine(y));
            for (int x = 0; x < w; ++x, src += colors, dst += 4) {
                dst[0] = src[0];
                dst[1] = src[colors == 3 ? 1 : 0];
                dst[2] = src[colors == 3 ? 2 : 0];
                dst[3] = 0xffff;
            }
        } else {
            const uint8_t *src = mem->data + qsizetype(y) * w * colors;
            uint8_t *dst = out.scanLine(y);
            for (int x = 0; x < w; ++x, src += colors, dst += 3) {
                dst[0] = src[0];
                dst[1] = src[colors == 3 ? 1 : 0];
                dst[2] = src[colors == 3 ? 2 : 0];
            }
        }
    }
    out.setColorSpace(QColorSpace(QColorSpace::SRgb)); // LibRaw's default output space
    return scaledToBound(out, bound);
}

std::optional<QImage> thumbnail(const ImageSource &source, int minSide)
{
    const auto raw = open(source.path);
    if (!raw || raw->unpack_thumb() != LIBRAW_SUCCESS)
        return std::nullopt;
    const auto &t = raw->imgdata.thumbnail;
    if (!t.thumb || t.tlength == 0 || std::max<int>(t.twidth, t.theight) < minSide)
        return std::nullopt;
    QImage image;
    if (t.tformat == LIBRAW_THUMBNAIL_JPEG) {
        if (!image.loadFromData(reinterpret_cast<const uchar *>(t.thumb), int(t.tlength), "JPEG"))
            return std::nullopt;
    } else if (t.tformat == LIBRAW_THUMBNAIL_BITMAP && t.tcolors == 3 &&
               qint64(t.tlength) >= qint64(t.twidth) * t.theight * 3) {
        image = QImage(reinterpret_cast<const uchar *>(t.thumb), t.twidth, t.theight,
                       qsizetype(t.twidth) * 3, QImage::Format_RGB888)
                    .copy();
    } else {
        return std::nullopt;
    }
    if (image.isNull() || std::max(image.width(), image.height()) < minSide)
        return std::nullopt;
    return applyOrientation(image, source.orientation);
}

} // namespace orva::rawdecoder
