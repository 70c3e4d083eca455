// Screen-sized decodes of the photos Orva is compared on, each against the fastest plain
// decoder command for its format, timed in the same benchmark (counter "x_floor"):
//   ORVA_BENCH_IMAGES=/tmp/peerbench/images orva-bench --benchmark_filter=Format
// The folder is what the peer benchmark's make_images.sh writes (folder24, heic12, png24),
// plus heicgrid12/g12.heic from bench/make_grid_heic.py (512 px tiles, as phones write).
#include "imageio/ImageDecoding.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

using namespace orva;

namespace {

constexpr int screenBound = 1920; // a 1920x1080 screen

QString image(const char *relative)
{
    const QString dir =
        qEnvironmentVariable("ORVA_BENCH_IMAGES", QStringLiteral("/tmp/peerbench/images"));
    return dir + QLatin1Char('/') + QLatin1String(relative);
}

// Median wall time of a command over three runs, in milliseconds; negative when it fails.
double floorMs(const QStringList &command)
{
    if (QStandardPaths::findExecutable(command.front()).isEmpty())
        return -1;
    std::vector<double> ms;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        QProcess p;
        p.start(command.front(), command.mid(1));
        if (!p.waitForFinished(120000) || p.exitCode() != 0)
            return -1;
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[1];
}

template <class Decode>
void againstFloor(benchmark::State &state, const QString &path, const QStringList &floor,
                  Decode decode)
{
    if (!QFileInfo::exists(path))
        return state.SkipWithError("missing input: set ORVA_BENCH_IMAGES (see the file's head)");
    std::vector<double> ms;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        if (!decode(QUrl::fromLocalFile(path)))
            return state.SkipWithError("decode failed");
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double f = floorMs(floor);
    state.counters["ms"] = median;
    if (f > 0) {
        state.counters["floor_ms"] = f;
        state.counters["x_floor"] = median / f;
    }
}

auto screenDecode = [](const QUrl &url) { return decodeImage(url, screenBound).has_value(); };

} // namespace

static void BM_Format_Jpeg24mp_Screen(benchmark::State &s)
{
    const QString p = image("folder24/p01.jpg");
    againstFloor(s, p,
                 {QStringLiteral("djpeg"), QStringLiteral("-scale"), QStringLiteral("1/2"),
                  QStringLiteral("-outfile"), QStringLiteral("/dev/null"), p},
                 screenDecode);
}
static void BM_Format_Png24mp_Screen(benchmark::State &s)
{
    const QString p = image("png24/p01.png");
    againstFloor(s, p, {QStringLiteral("vips"), QStringLiteral("avg"), p}, screenDecode);
}
static void heic(benchmark::State &s, const char *relative, bool quick)
{
    const QString p = image(relative);
    QTemporaryDir tmp;
    const QStringList floor{QStringLiteral("heif-convert"), QStringLiteral("--quiet"), p,
                            tmp.filePath(QStringLiteral("h.y4m"))};
    if (quick)
        againstFloor(s, p, floor,
                     [](const QUrl &url) { return decodeEmbeddedPreview(url).has_value(); });
    else
        againstFloor(s, p, floor, screenDecode);
}
static void BM_Format_Heic12mp_Screen(benchmark::State &s) { heic(s, "heic12/s12.heic", false); }
static void BM_Format_HeicGrid12mp_Screen(benchmark::State &s)
{
    heic(s, "heicgrid12/g12.heic", false);
}
static void BM_Format_Heic12mp_Thumbnail(benchmark::State &s) { heic(s, "heic12/s12.heic", true); }

BENCHMARK(BM_Format_Jpeg24mp_Screen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(7);
BENCHMARK(BM_Format_Png24mp_Screen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Format_Heic12mp_Screen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Format_HeicGrid12mp_Screen)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_Format_Heic12mp_Thumbnail)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(7);
