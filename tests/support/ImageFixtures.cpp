#include "support/ImageFixtures.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QPainter>
#include <QtEndian>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>
#include <zlib.h>

#include <vector>

namespace orva::test {

QImage quadrants(int width, int height, QImage::Format format)
{
    QImage img(width, height, QImage::Format_RGB32);
    QPainter p(&img);
    const int hw = width / 2;
    const int hh = height / 2;
    p.fillRect(0, 0, hw, hh, Qt::red);
    p.fillRect(hw, 0, width - hw, hh, Qt::green);
    p.fillRect(0, hh, hw, height - hh, Qt::blue);
    p.fillRect(hw, hh, width - hw, height - hh, Qt::white);
    p.end();
    return img.convertToFormat(format);
}

QString cornerColours(const QImage &image)
{
    const int w = image.width(), h = image.height();
    const int dx = std::max(1, w / 8), dy = std::max(1, h / 8);
    QString out;
    for (const QPoint at : {QPoint(dx, dy), QPoint(w - 1 - dx, dy), QPoint(w - 1 - dx, h - 1 - dy),
                            QPoint(dx, h - 1 - dy)}) {
        const QColor c = image.pixelColor(at);
        int key = 0; // a bit per channel, high or low; anything between is no colour
        for (const int v : {c.red(), c.green(), c.blue()})
            key = v > 180 ? key * 2 + 1 : v < 90 ? key * 2 : 99;
        out += key == 7 ? u'W' : key == 4 ? u'R' : key == 2 ? u'G' : key == 1 ? u'B' : u'?';
    }
    return out;
}

bool writeImage(const QString &path, const QImage &image, const char *format, int quality)
{
    return image.save(path, format, quality);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray be(quint64 v, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char(i < 8 ? v >> (8 * i) : 0));
    return out;
}

QByteArray le(quint64 v, int bytes)
{
    QByteArray out = be(v, bytes);
    std::reverse(out.begin(), out.end());
    return out;
}

namespace {

template <class Edit> bool editExif(const QString &path, Edit edit)
{
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        edit(image->exifData());
        image->writeMetadata();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace

bool setExifTags(const QString &path, const std::map<std::string, std::string> &tags,
                 const std::map<std::string, quint32> &longs)
{
    return editExif(path, [&](Exiv2::ExifData &data) {
        for (const auto &[key, value] : tags)
            data[key] = value;
        for (const auto &[key, value] : longs) {
            Exiv2::ULongValue v;
            v.value_.push_back(value);
            data[key].setValue(&v);
        }
    });
}

bool setExifThumbnail(const QString &path, const QImage &thumbnail)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    return buffer.open(QIODevice::WriteOnly) && thumbnail.save(&buffer, "JPEG", 90) &&
           editExif(path, [&](Exiv2::ExifData &data) {
               Exiv2::ExifThumb(data).setJpegThumbnail(
                   reinterpret_cast<const Exiv2::byte *>(jpeg.constData()), long(jpeg.size()));
           });
}

bool writeGif(const QString &path, const QList<QImage> &frames, const QList<int> &delaysCs,
              int loopCount)
{
    if (frames.isEmpty())
        return false;
    const int w = frames.first().width(), h = frames.first().height();
    // A global table of 128 entries (a 4x8x4 colour cube), 8 bits of colour resolution.
    QByteArray out = "GIF89a" + le(w, 2) + le(h, 2) + "\xF6" + le(0, 2);
    for (int i = 0; i < 128; ++i)
        out += char(((i >> 5) & 3) * 85) + QByteArray(1, char(((i >> 2) & 7) * 255 / 7)) +
               char((i & 3) * 85);
    if (loopCount >= 0)
        out += QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16) + le(loopCount, 2) + '\0';
    for (int f = 0; f < frames.size(); ++f) {
        const QImage img = frames[f].convertToFormat(QImage::Format_RGB32);
        // Graphic control (dispose none), the frame at 0,0, no local table, LZW code size 7.
        out += QByteArray("\x21\xF9\x04\x04", 4) + le(delaysCs.value(f, 10), 2) + le(0, 2) + ',' +
               le(0, 4) + le(w, 2) + le(h, 2) + '\0' + '\7';
        // 8-bit codes: a clear code every 100 literals keeps the code table from growing.
        QByteArray codes(1, char(128));
        for (int i = 0; i < w * h; ++i) {
            const QRgb c = img.pixel(i % w, i / w);
            codes += char(((qRed(c) * 3 / 255) << 5) | ((qGreen(c) * 7 / 255) << 2) |
                          (qBlue(c) * 3 / 255));
            if (i % 100 == 99)
                codes += char(128);
        }
        codes += char(129);
        for (qsizetype i = 0; i < codes.size(); i += 255)
            out += char(std::min<qsizetype>(255, codes.size() - i)) + codes.mid(i, 255);
        out += '\0';
    }
    return writeFile(path, out + ';');
}

bool writeAnimatedWebp(const QString &path, const QList<QImage> &frames, const QList<int> &delaysMs)
{
    if (frames.isEmpty())
        return false;
    const int w = frames.first().width(), h = frames.first().height();
    WebPAnimEncoderOptions options;
    WebPAnimEncoder *encoder =
        WebPAnimEncoderOptionsInit(&options) ? WebPAnimEncoderNew(w, h, &options) : nullptr;
    if (!encoder)
        return false;
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = 1;
    int timestamp = 0;
    bool ok = true;
    for (int i = 0; ok && i < frames.size(); ++i) {
        const QImage rgba = frames[i].convertToFormat(QImage::Format_RGBA8888);
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.width = w;
        picture.height = h;
        picture.use_argb = 1;
        ok = WebPPictureImportRGBA(&picture, rgba.constBits(), int(rgba.bytesPerLine())) &&
             WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
        WebPPictureFree(&picture);
        timestamp += i < delaysMs.size() ? delaysMs[i] : 100;
    }
    WebPData data;
    WebPDataInit(&data);
    ok = ok && WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr) &&
         WebPAnimEncoderAssemble(encoder, &data);
    QByteArray file(reinterpret_cast<const char *>(data.bytes), qsizetype(data.size));
    WebPDataClear(&data);
    const QByteArray icc = frames.first().colorSpace().iccProfile();
    if (ok && !icc.isEmpty()) {           // the first frame's profile for the whole animation
        file[20] = char(file[20] | 0x20); // VP8X flags: a profile follows
        file.insert(30, "ICCP" + le(icc.size(), 4) + icc + QByteArray(icc.size() % 2, '\0'));
        file.replace(4, 4, le(file.size() - 8, 4));
    }
    ok = ok && writeFile(path, file);
    WebPAnimEncoderDelete(encoder);
    return ok;
}

bool writeTiff(const QString &path, const QList<QImage> &pages, int sampleFormat, int bits,
               const QByteArray &layout)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    const bool grey = layout == "grey" || layout == "white", tiled = layout == "tiled",
               cfa = layout == "cfa";
    const int colours = grey || cfa ? 1 : 3, spp = colours + (layout == "alpha" ? 1 : 0),
              bytes = bits / 8;
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    bool ok = tif;
    for (const QImage &page : pages) {
        const int w = page.width(), h = page.height();
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, cfa ? 0 : FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, sampleFormat);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     cfa                 ? 32803 // colour filter array
                     : !grey             ? PHOTOMETRIC_RGB
                     : layout == "white" ? PHOTOMETRIC_MINISWHITE
                                         : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG,
                     tiled ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, cfa ? COMPRESSION_NONE : COMPRESSION_ADOBE_DEFLATE);
        if (spp > colours)
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        const int rows = cfa ? h : tiled ? 16 : 8; // tile width when tiled
        TIFFSetField(tif, tiled ? TIFFTAG_TILEWIDTH : TIFFTAG_ROWSPERSTRIP, rows);
        if (tiled)
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
        if (cfa) {
            static const uint8_t version[4] = {1, 4, 0, 0};
            static const uint16_t dim[2] = {2, 2};
            static const float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, neutral[3] = {1, 1, 1};
            const uint32_t area[4] = {4, 4, uint32_t(h) - 4, uint32_t(w) - 4};
            TIFFSetField(tif, TIFFTAG_MAKE, "Orva");
            TIFFSetField(tif, TIFFTAG_MODEL, "Test Sensor");
            TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "Orva Test Sensor");
            TIFFSetField(tif, TIFFTAG_DNGVERSION, version);
            TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, dim);
            TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, "\0\1\1\2"); // RGGB
            TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, matrix);
            TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
            TIFFSetField(tif, TIFFTAG_ACTIVEAREA, area);
        }
        const QImage rgb = page.convertToFormat(QImage::Format_RGB32);
        const auto put = [&](char *at, int x, int y, int s) {
            const QRgb p = rgb.pixel(x, y);
            const int k = cfa ? "\0\1\1\2"[y % 2 * 2 + x % 2] : s;
            const int c = grey ? qGray(p) : k == 0 ? qRed(p) : k == 1 ? qGreen(p) : qBlue(p);
            double v = s == colours ? 0.5 : c / 255.0;
            if (s < colours && layout == "white")
                v = 1 - v;
            const bool real = sampleFormat == SAMPLEFORMAT_IEEEFP;
            const quint64 i = real ? 0 : quint64(std::llround(v * (std::ldexp(1.0, bits) - 1)));
            std::memcpy(at, real ? static_cast<const void *>(&v) : &i, size_t(bytes));
        };
        QByteArray block(tiled ? 16 * 16 * bytes : w * spp * bytes, '\0');
        for (int s = 0; tiled && ok && s < spp; ++s)
            for (int ty = 0; ok && ty < h; ty += 16)
                for (int tx = 0; ok && tx < w; tx += 16) {
                    block.fill('\0');
                    for (int y = ty; y < std::min(h, ty + 16); ++y)
                        for (int x = tx; x < std::min(w, tx + 16); ++x)
                            put(block.data() + ((y - ty) * 16 + x - tx) * bytes, x, y, s);
                    ok = TIFFWriteTile(tif, block.data(), uint32_t(tx), uint32_t(ty), 0,
                                       uint16_t(s)) >= 0;
                }
        for (int y = 0; !tiled && ok && y < h; ++y) {
            for (int x = 0; x < w; ++x)
                for (int s = 0; s < spp; ++s)
                    put(block.data() + (x * spp + s) * bytes, x, y, s);
            ok = TIFFWriteScanline(tif, block.data(), uint32_t(y), 0) >= 0;
        }
        ok = ok && TIFFWriteDirectory(tif);
    }
    if (tif)
        TIFFClose(tif);
    return ok;
}

bool writeHeif(const QString &path, const QImage &image, int bitDepth, bool avif, int thumbnailSide,
               int hdrTransfer, const QByteArray &exif)
{
    const auto ok = [](heif_error e) { return e.code == heif_error_Ok; };
    const int w = image.width(), h = image.height();
    heif_context *ctx = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    heif_image *img = nullptr;
    heif_image_handle *handle = nullptr, *thumb = nullptr;
    heif_color_profile_nclx *nclx = hdrTransfer ? heif_nclx_color_profile_alloc() : nullptr;
    heif_encoding_options *options = heif_encoding_options_alloc();
    bool done = ok(heif_context_get_encoder_for_format(
                    ctx, avif ? heif_compression_AV1 : heif_compression_HEVC, &encoder)) &&
                ok(heif_image_create(w, h, heif_colorspace_RGB,
                                     bitDepth > 8 ? heif_chroma_interleaved_RRGGBB_LE
                                                  : heif_chroma_interleaved_RGB,
                                     &img)) &&
                ok(heif_image_add_plane(img, heif_channel_interleaved, w, h, bitDepth));
    if (done) {
        heif_encoder_set_lossy_quality(encoder, 90);
        heif_encoder_set_parameter(encoder, "preset", "ultrafast");
        int stride = 0;
        uint8_t *plane = heif_image_get_plane(img, heif_channel_interleaved, &stride);
        const QImage deep = image.convertToFormat(QImage::Format_RGBX64);
        for (int y = 0; y < h; ++y) {
            const auto *d = reinterpret_cast<const quint16 *>(deep.constScanLine(y));
            uint8_t *row = plane + qsizetype(y) * stride;
            for (int x = 0; x < w * 3; ++x) {
                const auto v = quint16(d[x / 3 * 4 + x % 3] >> (16 - bitDepth));
                if (bitDepth > 8)
                    qToLittleEndian(v, row + 2 * x);
                else
                    row[x] = uint8_t(v);
            }
        }
        if (nclx) {
            nclx->color_primaries = heif_color_primaries_ITU_R_BT_2020_2_and_2100_0;
            nclx->transfer_characteristics = heif_transfer_characteristics(hdrTransfer);
            nclx->matrix_coefficients =
                heif_matrix_coefficients_ITU_R_BT_2020_2_non_constant_luminance;
            nclx->full_range_flag = 1;
            heif_image_set_nclx_color_profile(img, nclx);
            options->output_nclx_profile = nclx;
            options->macOS_compatibility_workaround_no_nclx_profile = 0; // write the colr box
        }
        done = ok(heif_context_encode_image(ctx, img, encoder, options, &handle)) &&
               (exif.isEmpty() || ok(heif_context_add_exif_metadata(ctx, handle, exif.constData(),
                                                                    int(exif.size())))) &&
               (thumbnailSide <= 0 ||
                ok(heif_context_encode_thumbnail(ctx, img, handle, encoder, nullptr, thumbnailSide,
                                                 &thumb))) &&
               ok(heif_context_write_to_file(ctx, QFile::encodeName(path).constData()));
    }
    for (heif_image_handle *made : {handle, thumb})
        if (made)
            heif_image_handle_release(made);
    if (img)
        heif_image_release(img);
    if (encoder)
        heif_encoder_release(encoder);
    heif_encoding_options_free(options);
    if (nclx)
        heif_nclx_color_profile_free(nclx);
    heif_context_free(ctx);
    return done;
}

qsizetype boxEnd(const QByteArray &file, const char *type)
{
    for (qsizetype pos = 0; pos + 8 <= file.size();) {
        const quint32 size = qFromBigEndian<quint32>(file.constData() + pos);
        if (size < 8)
            return 0;
        if (file.mid(pos + 4, 4) == type)
            return pos + size;
        pos += size;
    }
    return 0;
}

QByteArray pngFile(const PngChunks &chunks)
{
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    for (const PngChunk &c : chunks) {
        const QByteArray body = c.type + c.data;
        out += be(c.data.size(), 4) + body +
               be(crc32(0, reinterpret_cast<const Bytef *>(body.data()), uInt(body.size())), 4);
    }
    return out;
}

QByteArray pngIhdr(QSize size, int colourType, bool interlaced)
{
    return be(size.width(), 4) + be(size.height(), 4) + char(8) + char(colourType) + char(0) +
           char(0) + char(interlaced ? 1 : 0);
}

QByteArray pngIdat(const QImage &image)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    QByteArray rows;
    for (int y = 0; y < rgba.height(); ++y) // unfiltered
        rows += '\0' + QByteArray(reinterpret_cast<const char *>(rgba.constScanLine(y)),
                                  qsizetype(rgba.width()) * 4);
    return qCompress(rows).mid(4); // qCompress puts a length before its zlib stream
}

PngChunks apngChunks(const QList<PngFrame> &frames, quint32 plays,
                     const std::optional<QImage> &hidden, QSize canvas)
{
    if (canvas.isEmpty())
        canvas = frames.first().image.size();
    PngChunks c{{"IHDR", pngIhdr(canvas, 6)}};
    const QColorSpace space = frames.first().image.colorSpace();
    if (space.isValid())
        c.push_back({"iCCP", QByteArray("icc\0\0", 5) + qCompress(space.iccProfile()).mid(4)});
    c.push_back({"acTL", be(frames.size(), 4) + be(plays, 4)});
    if (hidden)
        c.push_back({"IDAT", pngIdat(*hidden)});
    quint32 seq = 0;
    for (const PngFrame &f : frames) {
        c.push_back({"fcTL", be(seq++, 4) + be(f.image.width(), 4) + be(f.image.height(), 4) +
                                 be(f.at.x(), 4) + be(f.at.y(), 4) +
                                 be(quint32(f.num) << 16 | f.den, 4) + char(f.dispose) +
                                 char(f.blend)});
        if (seq == 1 && !hidden)
            c.push_back({"IDAT", pngIdat(f.image)});
        else
            c.push_back({"fdAT", be(seq++, 4) + pngIdat(f.image)});
    }
    c.push_back({"IEND", {}});
    return c;
}

namespace {

QByteArray packBits(const QByteArray &row) // runs as repeats, the rest as one-byte literals
{
    QByteArray out;
    for (qsizetype i = 0, n = 1; i < row.size(); i += n, n = 1) {
        while (i + n < row.size() && n < 128 && row[i + n] == row[i])
            ++n;
        out += char(1 - n) + QByteArray(1, row[i]);
    }
    return out;
}

} // namespace

QByteArray Psd::bytes() const
{
    const bool psb = version == 2;
    QByteArray out =
        "8BPS" + be(version, 2) + QByteArray(6, 0) + be(std::max<size_t>(planes.size(), 1), 2) +
        be(height, 4) + be(width, 4) + be(depth, 2) + be(mode, 2) + be(modeData.size(), 4) +
        modeData + be(resources.size(), 4) + resources +
        (psb ? be(layers.size(), 8) : be(layers.size(), 4)) + layers + be(compression, 2);
    QByteArray table, data;
    for (const QByteArray &plane : planes) {
        const qsizetype rowBytes = plane.size() / height;
        for (int y = 0; y < height && compression == 1; ++y) {
            const QByteArray packed = packBits(plane.mid(y * rowBytes, rowBytes));
            table += psb ? be(packed.size(), 4) : be(packed.size(), 2);
            data += packed;
        }
        if (compression != 1)
            data += plane;
    }
    return out + table + data;
}

} // namespace orva::test
