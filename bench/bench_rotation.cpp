// Rotation saved into the file, measured in one run against a plain decode and encode:
//   orva-bench --benchmark_filter=Rotate
// A 24 MP JPEG only has its orientation rewritten (no pixel is decoded or encoded); a 24 MP
// PNG is decoded, turned and encoded again, which a plain decode plus encode bounds.
#include "BenchImages.h"
#include "imageio/RotationSave.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace orva;

namespace {

struct RotationInputs {
    QTemporaryDir dir;
    QString jpeg = dir.filePath(QStringLiteral("24mp.jpg"));
    QString png = dir.filePath(QStringLiteral("24mp.png"));

    RotationInputs()
    {
        const QImage photo = bench::photoLike(6000, 4000);
        photo.save(jpeg, "JPEG", 90);
        photo.save(png, "PNG");
    }
};

RotationInputs &rotationInputs()
{
    static RotationInputs in;
    return in;
}

void saveLoop(benchmark::State &state, const QString &path)
{
    const QUrl url = QUrl::fromLocalFile(path);
    for (auto _ : state) {
        if (!saveRotation(url, 1))
            state.SkipWithError("save failed");
    }
    state.counters["MB"] = double(QFile(path).size()) / 1e6;
}

} // namespace

static void BM_Rotate_Jpeg24mp_Save(benchmark::State &s) { saveLoop(s, rotationInputs().jpeg); }
static void BM_Rotate_Png24mp_Save(benchmark::State &s) { saveLoop(s, rotationInputs().png); }
// The reference: what any re-encoding rotation must at least do.
static void BM_Rotate_Reference_Png24mpDecodeEncode(benchmark::State &s)
{
    const QString out = rotationInputs().dir.filePath(QStringLiteral("copy.png"));
    for (auto _ : s) {
        QImageReader reader(rotationInputs().png);
        reader.setAllocationLimit(0);
        const QImage image = reader.read();
        if (image.isNull() || !image.save(out, "PNG"))
            s.SkipWithError("decode or encode failed");
    }
}

BENCHMARK(BM_Rotate_Jpeg24mp_Save)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Rotate_Png24mp_Save)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Rotate_Reference_Png24mpDecodeEncode)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
