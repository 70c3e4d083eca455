#include "imageio/HeifHevcDecoder.h"

#include <QThread>

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace orva {

namespace {

struct Decoder {
    de265_decoder_context *ctx = nullptr;
    size_t pushed = 0;
};

// A whole photo in one stream gets the worker threads; the tiles of a grid, which libheif
// already decodes side by side, decode on the calling thread.
constexpr size_t threadedStreamBytes = 256 * 1024;

heif_error ok() { return {heif_error_Ok, heif_suberror_Unspecified, "ok"}; }

heif_error failure(const char *message)
{
    return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, message};
}

const char *pluginName() { return "Orva libde265, threaded"; }

void nothing() {}

// Above libheif's own libde265 plugin, so that this one is chosen.
int supports(heif_compression_format format) { return format == heif_compression_HEVC ? 120 : 0; }

heif_error newDecoder(void **out)
{
    auto *d = new Decoder;
    d->ctx = de265_new_decoder();
    if (!d->ctx) {
        delete d;
        return failure("libde265 decoder could not be created");
    }
    *out = d;
    return ok();
}

void freeDecoder(void *decoder)
{
    auto *d = static_cast<Decoder *>(decoder);
    de265_free_decoder(d->ctx);
    delete d;
}

// libheif hands over NAL units each prefixed with its 4-byte big-endian size.
heif_error pushData(void *decoder, const void *data, size_t size)
{
    auto *d = static_cast<Decoder *>(decoder);
    const auto *bytes = static_cast<const uint8_t *>(data);
    size_t pos = 0;
    while (pos + 4 <= size) {
        const size_t n = size_t(bytes[pos]) << 24 | size_t(bytes[pos + 1]) << 16 |
                         size_t(bytes[pos + 2]) << 8 | size_t(bytes[pos + 3]);
        pos += 4;
        if (n > size - pos || n > size_t(INT32_MAX))
            return failure("NAL unit beyond the data");
        if (!de265_isOK(de265_push_NAL(d->ctx, bytes + pos, int(n), 0, nullptr)))
            return failure("libde265 refused a NAL unit");
        pos += n;
    }
    d->pushed += size;
    return pos == size ? ok() : failure("truncated NAL unit size");
}

heif_error decodeImage(void *decoder, heif_image **out)
{
    auto *d = static_cast<Decoder *>(decoder);
    *out = nullptr;
    if (d->pushed >= threadedStreamBytes)
        de265_start_worker_threads(d->ctx, std::clamp(QThread::idealThreadCount(), 1, 8));
    de265_flush_data(d->ctx);
    int more = 1;
    while (more) {
        more = 0;
        const de265_error err = de265_decode(d->ctx, &more);
        if (err == DE265_ERROR_WAITING_FOR_INPUT_DATA)
            break; // everything was pushed and flushed
        if (!de265_isOK(err))
            return failure(de265_get_error_text(err));
        if (de265_peek_next_picture(d->ctx))
            break;
    }
    const de265_image *picture = de265_get_next_picture(d->ctx);
    if (!picture)
        return failure("libde265 returned no picture");
    const de265_chroma chroma = de265_get_chroma_format(picture);
    const int w = de265_get_image_width(picture, 0), h = de265_get_image_height(picture, 0);
    heif_image *image = nullptr;
    const bool mono = chroma == de265_chroma_mono;
    heif_error e =
        heif_image_create(w, h, mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
                          mono                         ? heif_chroma_monochrome
                          : chroma == de265_chroma_420 ? heif_chroma_420
                          : chroma == de265_chroma_422 ? heif_chroma_422
                                                       : heif_chroma_444,
                          &image);
    if (e.code != heif_error_Ok) {
        de265_release_next_picture(d->ctx);
        return e;
    }
    static constexpr heif_channel channels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (int c = 0; c < (mono ? 1 : 3); ++c) {
        const int cw = de265_get_image_width(picture, c), ch = de265_get_image_height(picture, c);
        const int bits = de265_get_bits_per_pixel(picture, c);
        int srcStride = 0;
        const uint8_t *src = de265_get_image_plane(picture, c, &srcStride);
        e = heif_image_add_plane(image, channels[c], cw, ch, bits);
        int dstStride = 0;
        uint8_t *dst = e.code == heif_error_Ok
                           ? heif_image_get_plane(image, channels[c], &dstStride)
                           : nullptr;
        if (!src || !dst) {
            heif_image_release(image);
            de265_release_next_picture(d->ctx);
            return failure("image plane could not be copied");
        }
        const size_t rowBytes = size_t(cw) * ((bits + 7) / 8);
        for (int y = 0; y < ch; ++y)
            std::memcpy(dst + size_t(y) * dstStride, src + size_t(y) * srcStride, rowBytes);
    }
    // The stream's own colour description; a colour box in the file takes precedence.
    if (heif_color_profile_nclx *nclx = heif_nclx_color_profile_alloc()) {
        nclx->full_range_flag = uint8_t(de265_get_image_full_range_flag(picture));
        heif_nclx_color_profile_set_color_primaries(
            nclx, uint16_t(de265_get_image_colour_primaries(picture)));
        heif_nclx_color_profile_set_transfer_characteristics(
            nclx, uint16_t(de265_get_image_transfer_characteristics(picture)));
        heif_nclx_color_profile_set_matrix_coefficients(
            nclx, uint16_t(de265_get_image_matrix_coefficients(picture)));
        heif_image_set_nclx_color_profile(image, nclx);
        heif_nclx_color_profile_free(nclx);
    }
    de265_release_next_picture(d->ctx);
    *out = image;
    return ok();
}

void setStrict(void *, int) {}

const heif_decoder_plugin plugin{
    3,           pluginName, nothing,     nothing,   supports,        newDecoder,
    freeDecoder, pushData,   decodeImage, setStrict, "orva-libde265",
};

} // namespace

void registerThreadedHevcDecoder()
{
    static std::once_flag once;
    std::call_once(once, [] { heif_register_decoder_plugin(&plugin); });
}

} // namespace orva
