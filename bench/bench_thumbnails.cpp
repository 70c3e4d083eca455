// The thumbnail strip and the blurred background:
//   orva-bench --benchmark_filter=Thumbnails
// LargeFolder: a window opening a folder of 10,000 small JPEGs with the strip shown, until
// the cells in view have their thumbnails, then a jump to the middle of the folder: the
// longest main-thread stall, and the growth of the peak resident size.
// CameraStrip: twenty 24 MP camera JPEGs (Exif thumbnails) filling the cache from cold and
// from warm desktop thumbnails, against the same files without an embedded thumbnail, which
// need a bounded decode each; all in one run.
// BlurredSwitch: the blurred background chosen while a 24 MP photo is shown, its thumbnail
// not yet made (cold) and already kept (warm), against a flat grey chosen alone and while a
// worker decodes; with the main thread's own CPU time over the cold switch.
#include "core/settings/Settings.h"
#include "core/view/ThumbnailStrip.h"
#include "platform/thumbnails/FreedesktopThumbnails.h"
#include "ui/ImageViewer.h"
#include "ui/ThumbnailBar.h"
#include "ui/ViewerBackground.h"
#include "ui/ViewerWindow.h"

#include "BenchImages.h"
#include "BenchServices.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace orva;
using namespace orva::bench;

namespace {

double peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// CPU time of the calling thread.
double mainThreadCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

const QTemporaryDir &smallFolder()
{
    static QTemporaryDir dir;
    static const bool written = [] {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        photoLike(160, 120).save(&buffer, "JPEG", 85);
        for (int i = 0; i < 10000; ++i) {
            QFile f(dir.filePath(QStringLiteral("img%1.jpg").arg(i, 5, 10, QLatin1Char('0'))));
            if (f.open(QIODevice::WriteOnly))
                f.write(jpeg);
        }
        return true;
    }();
    Q_UNUSED(written);
    return dir;
}

// Twenty copies of one 24 MP photo, with (camera/) and without (bare/) an Exif thumbnail.
const QTemporaryDir &cameraFolder()
{
    static QTemporaryDir dir;
    static const bool written = [] {
        QDir(dir.path()).mkpath(QStringLiteral("bare"));
        QDir(dir.path()).mkpath(QStringLiteral("camera"));
        const QImage photo = photoLike(6000, 4000);
        const QString bare = dir.filePath(QStringLiteral("bare/00.jpg"));
        photo.save(bare, "JPEG", 90);
        const QString camera = dir.filePath(QStringLiteral("camera/00.jpg"));
        QFile::copy(bare, camera);
        addExifThumbnail(camera, photo);
        for (int i = 1; i < 20; ++i)
            for (const char *kind : {"bare", "camera"})
                QFile::copy(dir.filePath(QStringLiteral("%1/00.jpg").arg(QLatin1String(kind))),
                            dir.filePath(QStringLiteral("%1/%2.jpg")
                                             .arg(QLatin1String(kind))
                                             .arg(i, 2, 10, QLatin1Char('0'))));
        return true;
    }();
    Q_UNUSED(written);
    return dir;
}

// Milliseconds until a fresh cache holds thumbnails of every file of `folder`.
double fillMs(ImageService &images, TaskRuntime &tasks, const ThumbnailStore *store,
              const QString &folder)
{
    ThumbnailCache cache(images, tasks, store);
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.jpg")}, QDir::Files);
    int done = 0;
    QObject context;
    QElapsedTimer clock;
    clock.start();
    for (const QFileInfo &f : files)
        cache.thumbnailForURL(QUrl::fromLocalFile(f.absoluteFilePath()), &context,
                              [&](const std::optional<QImage> &) { ++done; });
    waitUntil([&] { return done == files.size(); });
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

static void BM_Thumbnails_LargeFolder(benchmark::State &state)
{
    const QTemporaryDir &folder = smallFolder();
    double worst = 0, grewMb = 0, fillMs = 0;
    for (auto _ : state) {
        const double before = peakRssMb();
        BenchServices services;
        Settings(services.settings).setShowThumbnailBar(true);
        ViewerWindow window(services.services);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.resize(1920, 1080);
        window.show();
        AppState &s = window.state();
        const ThumbnailBar &strip = window.viewer().thumbnailBar();
        StallMeter meter;
        s.open(QUrl::fromLocalFile(folder.filePath(QStringLiteral("img00000.jpg"))));
        auto filledAround = [&](int index) {
            return s.imageFiles().size() == 10000 && strip.isVisible() && !strip.isScrolling() &&
                   services.thumbnails.cached(s.imageFiles()[index]) && strip.pending().isEmpty();
        };
        waitUntil([&] { return filledAround(0); });
        s.goToIndex(5000);
        waitUntil([&] { return filledAround(5000); });
        fillMs = meter.elapsedMs();
        meter.stop();
        worst = std::max(worst, meter.worst());
        grewMb = std::max(grewMb, peakRssMb() - before);
    }
    state.counters["worst_stall_ms"] = worst;
    state.counters["peak_rss_growth_mb"] = grewMb;
    state.counters["open_and_fill_ms"] = fillMs;
}
BENCHMARK(BM_Thumbnails_LargeFolder)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

static void BM_Thumbnails_CameraStrip(benchmark::State &state)
{
    const QTemporaryDir &folder = cameraFolder();
    BenchServices services;
    double bare = 0, cold = 0, warm = 0;
    for (auto _ : state) {
        bare += fillMs(services.images, services.tasks, nullptr,
                       folder.filePath(QStringLiteral("bare")));
        QTemporaryDir home;
        const FreedesktopThumbnails store(home.filePath(QStringLiteral("thumbnails")));
        cold += fillMs(services.images, services.tasks, &store,
                       folder.filePath(QStringLiteral("camera")));
        warm += fillMs(services.images, services.tasks, &store,
                       folder.filePath(QStringLiteral("camera")));
    }
    const double n = double(state.iterations());
    state.counters["bare_decode_ms"] = bare / n;
    state.counters["camera_cold_ms"] = cold / n;
    state.counters["camera_warm_ms"] = warm / n;
    state.counters["cold_ratio"] = cold / bare;
    state.counters["warm_ratio"] = warm / bare;
}
BENCHMARK(BM_Thumbnails_CameraStrip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

static void BM_Thumbnails_BlurredSwitch(benchmark::State &state)
{
    const QTemporaryDir &folder = cameraFolder();
    double worst = 0, flat = 0, blurMs = 0, fadeWorst = 0, warm = 0, busy = 0, coldCpu = 0,
           coldWall = 0;
    for (auto _ : state) {
        BenchServices services;
        Settings(services.settings).setBackgroundStyle(BackgroundStyle::black);
        ViewerWindow window(services.services);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.resize(1920, 1080);
        window.show();
        AppState &s = window.state();
        s.open(QUrl::fromLocalFile(folder.filePath(QStringLiteral("bare/00.jpg"))));
        waitUntil([&] { return s.currentImage().has_value(); });
        const viewer::BlurredBackground &blurred = window.viewer().blurredBackground();
        auto settle = [] {
            QTimer tick; // keeps the loop turning; the cross-fade, and a little after
            tick.start(5);
            QElapsedTimer clock;
            clock.start();
            waitUntil([&] { return clock.elapsed() >= 500; });
        };
        settle();
        // Reference: a flat grey, which costs one repaint of the window.
        StallMeter flatMeter;
        Settings(services.settings).setBackgroundStyle(BackgroundStyle::darkGray);
        settle();
        flatMeter.stop();
        flat = std::max(flat, flatMeter.worst());

        StallMeter meter;
        const double cpuBefore = mainThreadCpuMs();
        Settings(services.settings).setBackgroundStyle(BackgroundStyle::blurred);
        waitUntil([&] { return blurred.isFading(); });
        meter.stop();
        coldCpu = std::max(coldCpu, mainThreadCpuMs() - cpuBefore);
        coldWall = std::max(coldWall, double(meter.elapsedMs()));
        StallMeter fadeMeter;
        settle();
        fadeMeter.stop();
        worst = std::max(worst, meter.worst());
        fadeWorst = std::max(fadeWorst, fadeMeter.worst());

        // The flat grey again while another photo's thumbnail is being decoded: what the
        // worker alone costs the main thread on this machine.
        Settings(services.settings).setBackgroundStyle(BackgroundStyle::black);
        settle();
        bool decoded = false;
        QObject context;
        services.thumbnails.thumbnailForURL(
            QUrl::fromLocalFile(folder.filePath(QStringLiteral("bare/01.jpg"))), &context,
            [&](const std::optional<QImage> &) { decoded = true; });
        StallMeter busyMeter;
        Settings(services.settings).setBackgroundStyle(BackgroundStyle::darkGray);
        waitUntil([&] { return decoded; });
        busyMeter.stop();
        busy = std::max(busy, busyMeter.worst());

        // Again with the photo's thumbnail already kept (as when the strip has shown it):
        // nothing is decoded meanwhile.
        Settings(services.settings).setBackgroundStyle(BackgroundStyle::darkGray);
        settle();
        StallMeter warmMeter;
        Settings(services.settings).setBackgroundStyle(BackgroundStyle::blurred);
        settle();
        warmMeter.stop();
        warm = std::max(warm, warmMeter.worst());

        // The blur's own share: made from the thumbnail and brought to the window's size.
        QElapsedTimer clock;
        clock.start();
        const QImage composite =
            background::blurredBackground(*services.thumbnails.cached(*s.currentURL()),
                                          QSize(1920, 1080))
                .scaled(1920, 1080, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        blurMs = clock.nsecsElapsed() / 1e6;
    }
    state.counters["worst_stall_ms"] = worst;
    state.counters["blur_compose_ms"] = blurMs;
    state.counters["fade_stall_ms"] = fadeWorst;
    state.counters["warm_stall_ms"] = warm;
    state.counters["cold_main_cpu_ms"] = coldCpu;
    state.counters["cold_wall_ms"] = coldWall;
    state.counters["flat_while_decoding_stall_ms"] = busy;
    state.counters["flat_grey_stall_ms"] = flat;
    state.counters["ratio_to_flat"] = worst / flat;
}
BENCHMARK(BM_Thumbnails_BlurredSwitch)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
