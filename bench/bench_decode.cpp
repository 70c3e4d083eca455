// Decode timings against the reference tools of the same machine, measured in one run:
//   orva-bench --benchmark_filter=Decode
// Inputs are made on first use in a temporary folder: a 24 MP JPEG with photo-like detail
// and a 12 MP 10-bit HEIC. Set ORVA_BENCH_RAW to a camera raw file to time LibRaw too.
#include "BenchImages.h"
#include "imageio/ImageDecoding.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <libheif/heif.h>

using namespace orva;
using orva::bench::photoLike;

namespace {

struct Inputs {
    QTemporaryDir dir;
    QString jpeg = dir.filePath(QStringLiteral("24mp.jpg"));
    QString heic = dir.filePath(QStringLiteral("12mp-10bit.heic"));

    Inputs()
    {
        photoLike(6000, 4000).save(jpeg, "JPEG", 90);
        writeHeic(photoLike(4000, 3000), heic);
    }

    static void writeHeic(const QImage &image, const QString &path)
    {
        heif_context *ctx = heif_context_alloc();
        heif_encoder *enc = nullptr;
        heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &enc);
        heif_encoder_set_lossy_quality(enc, 60);
        heif_encoder_set_parameter(enc, "preset", "ultrafast");
        heif_image *img = nullptr;
        const int w = image.width(), h = image.height();
        heif_image_create(w, h, heif_colorspace_RGB, heif_chroma_interleaved_RRGGBB_LE, &img);
        heif_image_add_plane(img, heif_channel_interleaved, w, h, 10);
        int stride = 0;
        uint8_t *plane = heif_image_get_plane(img, heif_channel_interleaved, &stride);
        const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        for (int y = 0; y < h; ++y) {
            auto *dst = reinterpret_cast<uint16_t *>(plane + qsizetype(y) * stride);
            const uchar *src = rgb.constScanLine(y);
            for (int x = 0; x < w * 3; ++x)
                dst[x] = uint16_t(src[x] << 2);
        }
        heif_context_encode_image(ctx, img, enc, nullptr, nullptr);
        heif_context_write_to_file(ctx, QFile::encodeName(path).constData());
        heif_image_release(img);
        heif_encoder_release(enc);
        heif_context_free(ctx);
    }
};

Inputs &inputs()
{
    static Inputs in;
    return in;
}

void decodeLoop(benchmark::State &state, const QString &path, std::optional<int> bound)
{
    const QUrl url = QUrl::fromLocalFile(path);
    for (auto _ : state) {
        auto d = decodeImage(url, bound);
        if (!d)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(d);
    }
}

void runTool(benchmark::State &state, const QString &program, const QStringList &args)
{
    if (QStandardPaths::findExecutable(program).isEmpty()) {
        state.SkipWithError("reference tool not installed");
        return;
    }
    for (auto _ : state) {
        QProcess p;
        p.start(program, args);
        if (!p.waitForFinished(120000) || p.exitCode() != 0)
            state.SkipWithError("reference tool failed");
    }
}

} // namespace

static void BM_Decode_Jpeg24mp_Full(benchmark::State &s)
{
    decodeLoop(s, inputs().jpeg, std::nullopt);
}
static void BM_Decode_Jpeg24mp_Preview2560(benchmark::State &s)
{
    decodeLoop(s, inputs().jpeg, 2560);
}
static void BM_Decode_Reference_DjpegHalf(benchmark::State &s)
{
    runTool(s, QStringLiteral("djpeg"),
            {QStringLiteral("-scale"), QStringLiteral("1/2"), QStringLiteral("-outfile"),
             QStringLiteral("/dev/null"), inputs().jpeg});
}
static void BM_Decode_Heic12mp10bit_Preview2560(benchmark::State &s)
{
    decodeLoop(s, inputs().heic, 2560);
}
static void BM_Decode_Reference_HeifConvert(benchmark::State &s)
{
    const QString out = inputs().dir.filePath(QStringLiteral("out.jpg"));
    runTool(s, QStringLiteral("heif-convert"),
            {QStringLiteral("-q"), QStringLiteral("50"), inputs().heic, out});
}
static void BM_Decode_Raw_Full(benchmark::State &s)
{
    const QString raw = qEnvironmentVariable("ORVA_BENCH_RAW");
    if (raw.isEmpty())
        return s.SkipWithError("set ORVA_BENCH_RAW to a camera raw file");
    decodeLoop(s, raw, std::nullopt);
}
static void BM_Decode_Raw_HalfSizePreview(benchmark::State &s)
{
    const QString raw = qEnvironmentVariable("ORVA_BENCH_RAW");
    if (raw.isEmpty())
        return s.SkipWithError("set ORVA_BENCH_RAW to a camera raw file");
    // A bound well under half the sensor's longer side.
    decodeLoop(s, raw, 256);
}

BENCHMARK(BM_Decode_Jpeg24mp_Full)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Decode_Jpeg24mp_Preview2560)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Decode_Reference_DjpegHalf)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Decode_Heic12mp10bit_Preview2560)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_Decode_Reference_HeifConvert)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_Decode_Raw_Full)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Decode_Raw_HalfSizePreview)->Unit(benchmark::kMillisecond)->UseRealTime();
