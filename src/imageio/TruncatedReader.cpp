#include "imageio/TruncatedReader.h"

#include "imageio/DecodeLimits.h"

#include <QColorSpace>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <memory>

// clang-format off
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>
#include <png.h>
// clang-format on

namespace orva {

namespace {

// The end markers lie in the last bytes of a whole file; some writers pad after them.
constexpr qint64 tailBytes = 1024;

bool withinLimits(qint64 width, qint64 height)
{
    return width > 0 && height > 0 && width <= DecodeLimits::maxSide &&
           height <= DecodeLimits::maxSide && width * height <= DecodeLimits::maxPixels &&
           width * height * 4 <= DecodeLimits::maxImageBytes();
}

// --- JPEG ---

struct JpegContext {
    jpeg_error_mgr error{};
    std::jmp_buf jump{};
    jpeg_source_mgr source{};
    jpeg_decompress_struct info{};
    const uchar *data = nullptr;
    qint64 size = 0;
    JOCTET endOfImage[2] = {0xFF, JPEG_EOI};
    bool ended = false;
    JDIMENSION endedAtRow = 0; // first output row decoded without data
    QImage image;
    QByteArray icc;
    bool failed = false; // libjpeg gave up
};

JpegContext &contextOf(j_common_ptr info)
{
    return *reinterpret_cast<JpegContext *>(info->client_data);
}

void jpegErrorExit(j_common_ptr info) { std::longjmp(contextOf(info).jump, 1); }
void jpegQuiet(j_common_ptr, int) {}

void jpegInitSource(j_decompress_ptr) {}
void jpegTermSource(j_decompress_ptr) {}

// Called only once the whole file is consumed: libjpeg's advice is a fake end marker, so
// that what was read still comes out.
boolean jpegFillInput(j_decompress_ptr info)
{
    JpegContext &c = contextOf(reinterpret_cast<j_common_ptr>(info));
    if (!c.ended) {
        c.ended = true;
        c.endedAtRow = info->output_scanline;
    }
    info->src->next_input_byte = c.endOfImage;
    info->src->bytes_in_buffer = 2;
    return TRUE;
}

void jpegSkip(j_decompress_ptr info, long count)
{
    jpeg_source_mgr *src = info->src;
    while (count > 0) {
        if (src->bytes_in_buffer == 0)
            jpegFillInput(info);
        const long step = std::min<long>(count, long(src->bytes_in_buffer));
        src->next_input_byte += step;
        src->bytes_in_buffer -= size_t(step);
        count -= step;
    }
}

// Adobe writes CMYK inverted: full ink is 0.
void cmykRowToRgb(uchar *row, int width)
{
    auto *px = reinterpret_cast<QRgb *>(row);
    for (int x = width - 1; x >= 0; --x) {
        const uchar *p = row + 4 * x;
        const int k = p[3];
        px[x] = qRgb(p[0] * k / 255, p[1] * k / 255, p[2] * k / 255);
    }
}

// Everything between setjmp and longjmp lives in `c`, on the heap.
bool decodeJpeg(JpegContext &c, int bound)
{
    jpeg_decompress_struct &info = c.info;
    info.err = jpeg_std_error(&c.error);
    c.error.error_exit = jpegErrorExit;
    c.error.emit_message = jpegQuiet;
    if (setjmp(c.jump)) {
        c.failed = true;
        jpeg_destroy_decompress(&info);
        return !c.image.isNull();
    }
    jpeg_create_decompress(&info);
    info.client_data = &c;
    c.source.init_source = jpegInitSource;
    c.source.fill_input_buffer = jpegFillInput;
    c.source.skip_input_data = jpegSkip;
    c.source.resync_to_restart = jpeg_resync_to_restart;
    c.source.term_source = jpegTermSource;
    c.source.next_input_byte = c.data;
    c.source.bytes_in_buffer = size_t(c.size);
    info.src = &c.source;
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || c.ended ||
        !withinLimits(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    JOCTET *profile = nullptr;
    unsigned int profileSize = 0;
    if (jpeg_read_icc_profile(&info, &profile, &profileSize) && profile) {
        c.icc = QByteArray(reinterpret_cast<const char *>(profile), int(profileSize));
        std::free(profile);
    }
    const int longer = int(std::max(info.image_width, info.image_height));
    info.scale_num = unsigned(std::clamp(int(std::ceil(8.0 * bound / longer)), 1, 8));
    info.scale_denom = 8;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA; // BGRA is QImage's ARGB32 here
    jpeg_start_decompress(&info);
    c.image = QImage(int(info.output_width), int(info.output_height),
                     QImage::Format_ARGB32_Premultiplied);
    if (c.image.isNull()) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    c.image.fill(Qt::transparent);
    while (info.output_scanline < info.output_height) {
        const JDIMENSION y = info.output_scanline;
        JSAMPROW row = c.image.scanLine(int(y));
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            break;
        if (cmyk)
            cmykRowToRgb(row, c.image.width());
    }
    // A single-scan file is decoded as it is read: rows after the data ran out are made
    // up. A progressive one was read whole before output began, each row at some quality.
    const bool madeUp = c.ended && !jpeg_has_multiple_scans(&info);
    if (madeUp) {
        for (int y = int(c.endedAtRow); y < c.image.height(); ++y)
            std::memset(c.image.scanLine(y), 0, size_t(c.image.bytesPerLine()));
    }
    jpeg_destroy_decompress(&info);
    return !madeUp || c.endedAtRow > 0; // no real row at all: nothing to show
}

// --- PNG ---

struct PngContext {
    const uchar *data = nullptr;
    qint64 size = 0;
    qint64 offset = 0;
    QImage image; // non-premultiplied until decoding ends
    QByteArray icc;
    int rowsRead = 0;
};

void pngRead(png_structp png, png_bytep out, png_size_t length)
{
    auto &c = *static_cast<PngContext *>(png_get_io_ptr(png));
    if (qint64(length) > c.size - c.offset)
        png_error(png, "data ends early");
    std::memcpy(out, c.data + c.offset, length);
    c.offset += qint64(length);
}

void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarning(png_structp, png_const_charp) {}

// Everything between setjmp and longjmp lives in `c`, on the heap; the rows decoded
// before the data ended stay in the image.
void decodePng(png_structp png, png_infop info, PngContext &c)
{
    if (setjmp(png_jmpbuf(png)))
        return;
    png_set_read_fn(png, &c, pngRead);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (!withinLimits(width, height))
        return;
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileSize = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize) && profile)
        c.icc = QByteArray(reinterpret_cast<const char *>(profile), int(profileSize));
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != png_size_t(width) * 4)
        return;
    c.image = QImage(int(width), int(height), QImage::Format_ARGB32);
    if (c.image.isNull())
        return;
    c.image.fill(Qt::transparent);
    // Interlaced passes are drawn as blocks, so a file that ends in a later pass shows
    // the coarser earlier ones.
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < int(height); ++y) {
            png_read_row(png, nullptr, c.image.scanLine(y));
            ++c.rowsRead;
        }
}

std::optional<QImage> withProfile(QImage image, const QByteArray &icc)
{
    if (image.isNull())
        return std::nullopt;
    if (!icc.isEmpty()) {
        const QColorSpace cs = QColorSpace::fromIccProfile(icc);
        if (cs.isValid())
            image.setColorSpace(cs);
    }
    return image;
}

} // namespace

bool endsBeforeItsEndMarker(const QString &path, const QByteArray &qtFormat)
{
    const bool jpeg = qtFormat == "jpeg";
    if (!jpeg && qtFormat != "png")
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (!file.seek(std::max<qint64>(0, size - tailBytes)))
        return false;
    const QByteArray tail = file.read(tailBytes);
    // Entropy-coded JPEG data never holds FF D9 (an FF there is followed by 00 or a
    // restart marker), so finding it means the scan ended.
    return !tail.contains(jpeg ? QByteArrayLiteral("\xFF\xD9") : QByteArrayLiteral("IEND"));
}

std::optional<QImage> readJpegReduced(const QString &path, int bound)
{
    QFile file(path);
    const uchar *data =
        file.open(QIODevice::ReadOnly) && file.size() > 0 ? file.map(0, file.size()) : nullptr;
    if (!data)
        return std::nullopt;
    auto c = std::make_unique<JpegContext>();
    c->data = data;
    c->size = file.size();
    if (!decodeJpeg(*c, std::max(bound, 1)) || c->failed || c->ended)
        return std::nullopt;
    // Every row was decoded: opaque.
    if (!c->image.reinterpretAsFormat(QImage::Format_RGB32))
        return std::nullopt;
    return withProfile(std::move(c->image), c->icc);
}

std::optional<QImage> readTruncatedImage(const QString &path, const QByteArray &qtFormat, int bound)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return std::nullopt;
    const uchar *data = file.map(0, file.size());
    if (!data)
        return std::nullopt;
    if (qtFormat == "jpeg") {
        auto c = std::make_unique<JpegContext>();
        c->data = data;
        c->size = file.size();
        if (!decodeJpeg(*c, std::max(bound, 1)))
            return std::nullopt;
        return withProfile(std::move(c->image), c->icc);
    }
    if (qtFormat == "png") {
        png_structp png =
            png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        if (!info) {
            png_destroy_read_struct(&png, nullptr, nullptr);
            return std::nullopt;
        }
        auto c = std::make_unique<PngContext>();
        c->data = data;
        c->size = file.size();
        decodePng(png, info, *c);
        png_destroy_read_struct(&png, &info, nullptr);
        if (c->rowsRead == 0)
            return std::nullopt;
        return withProfile(c->image.convertToFormat(QImage::Format_ARGB32_Premultiplied), c->icc);
    }
    return std::nullopt;
}

} // namespace orva
