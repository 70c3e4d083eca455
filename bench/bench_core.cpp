// Listing, sorting and stepping: the viewer core against real files.
//   orva-bench --benchmark_filter=Core
#include "core/listing/FolderListing.h"
#include "core/runtime/Scheduler.h"
#include "core/runtime/TaskRuntime.h"
#include "core/services/DirectoryWatcher.h"
#include "core/services/ScreenInfo.h"
#include "core/services/TagStore.h"
#include "core/state/AppState.h"
#include "imageio/ImageIOService.h"
#include "platform/settings/QSettingsStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "BenchServices.h"

#include <benchmark/benchmark.h>
#include <exiv2/exiv2.hpp>

using namespace orva;
using namespace orva::bench;

namespace {

struct Folders {
    QTemporaryDir names;  // 10,000 empty files with image names
    QTemporaryDir photos; // 1,000 small JPEGs with capture dates
    QTemporaryDir steps;  // 20 photo-sized JPEGs to step through

    Folders()
    {
        for (int i = 0; i < 10000; ++i)
            QFile(names.filePath(QStringLiteral("IMG_%1.jpg").arg((i * 7919) % 10000)))
                .open(QIODevice::WriteOnly);
        QImage small(640, 480, QImage::Format_RGB32);
        small.fill(QColor(120, 140, 160));
        for (int i = 0; i < 1000; ++i) {
            const QString path =
                photos.filePath(QStringLiteral("DSC%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
            small.save(path, "JPEG", 90);
            auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
            image->readMetadata();
            image->exifData()["Exif.Image.Make"] = "Camera";
            image->exifData()["Exif.Photo.DateTimeOriginal"] =
                QStringLiteral("2024:06:%1 12:%2:00")
                    .arg(1 + (i * 13) % 28, 2, 10, QLatin1Char('0'))
                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                    .toStdString();
            image->writeMetadata();
        }
        QImage big(3000, 2000, QImage::Format_RGB32);
        big.fill(QColor(90, 100, 110));
        for (int i = 0; i < 20; ++i)
            big.save(steps.filePath(QStringLiteral("step%1.jpg").arg(i, 2, 10, QLatin1Char('0'))),
                     "JPEG", 90);
    }
};

Folders &folders()
{
    static Folders f;
    return f;
}

} // namespace

static void BM_Core_ListAndSortByName_10000(benchmark::State &state)
{
    const ImageIOService images;
    const QUrl folder = QUrl::fromLocalFile(folders().names.path());
    for (auto _ : state) {
        auto list = listImageFiles(folder, std::nullopt, SortOrder::name, false, images);
        if (!list || list->size() != 10000)
            state.SkipWithError("listing failed");
    }
}
BENCHMARK(BM_Core_ListAndSortByName_10000)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Core_SortByDateTaken_1000(benchmark::State &state)
{
    const ImageIOService images;
    const QUrl folder = QUrl::fromLocalFile(folders().photos.path());
    for (auto _ : state) {
        auto list = listImageFiles(folder, std::nullopt, SortOrder::dateTaken, false, images);
        if (!list || list->size() != 1000)
            state.SkipWithError("listing failed");
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_Core_SortByDateTaken_1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// From navigate(+1) to the prefetched neighbour's image set in the state.
static void BM_Core_StepToPrefetchedNeighbour(benchmark::State &state)
{
    BenchState bench;
    AppState &s = bench.state;
    TaskRuntime &tasks = bench.tasks;
    s.open(QUrl::fromLocalFile(folders().steps.filePath(QStringLiteral("step00.jpg"))));
    waitUntil([&] { return s.imageFiles().size() == 20 && s.currentImage().has_value(); });
    for (auto _ : state) {
        state.PauseTiming();
        tasks.waitForDone(); // neighbours decoded ahead
        const auto before = s.currentImage();
        state.ResumeTiming();
        s.navigate(+1);
        waitUntil([&] { return s.currentImage() != before; });
    }
}
BENCHMARK(BM_Core_StepToPrefetchedNeighbour)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Iterations(40);
