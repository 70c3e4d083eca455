// Painting a large photo in the image view: what a frame costs while fitted, while panning
// at 100%, and on the first paint of a new image, before its mipmaps exist.
//   orva-bench --benchmark_filter=View
#include "core/runtime/Scheduler.h"
#include "core/runtime/TaskRuntime.h"
#include "core/services/DirectoryWatcher.h"
#include "core/services/ScreenInfo.h"
#include "core/services/TagStore.h"
#include "core/state/AppState.h"
#include "imageio/ImageIOService.h"
#include "platform/settings/QSettingsStore.h"
#include "ui/ZoomableImageView.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QScrollBar>
#include <QTemporaryDir>

#include "BenchServices.h"

#include <benchmark/benchmark.h>

#include <cmath>

using namespace orva;
using namespace orva::bench;

namespace {

const QSize viewportSize(1920, 1080);

// Smooth gradients with fine noise: flat fills would let the scaler take shortcuts that
// a camera image never allows.
const QImage &photo()
{
    static const QImage image = [] {
        QImage im(6000, 4000, QImage::Format_RGB32);
        quint32 seed = 12345;
        for (int y = 0; y < im.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(im.scanLine(y));
            for (int x = 0; x < im.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int noise = int(seed >> 28) - 8;
                const int r = x * 255 / im.width() + noise;
                const int g = y * 255 / im.height() + noise;
                const int b = int(127 + 100 * std::sin(x * 0.002 + y * 0.003)) + noise;
                line[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
            }
        }
        return im;
    }();
    return image;
}

// Every call gives a new image object, as a decode does.
DecodedImage decoded(const QImage &bitmap)
{
    auto image = std::make_shared<DisplayImage>();
    image->pointSize = QSizeF(bitmap.size());
    image->frames.push_back({bitmap, 0});
    return DecodedImage{image, bitmap, image, 1.0};
}

// A shown view with a 1920x1080 viewport over a state on the real services.
struct Viewer : BenchState {
    ZoomableImageView view{state};
    QImage target{viewportSize, QImage::Format_ARGB32_Premultiplied};

    Viewer()
    {
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.resize(viewportSize);
        view.show();
        QCoreApplication::processEvents();
    }
    ~Viewer() { tasks.waitForDone(); }

    void show(const QImage &bitmap, ZoomAction zoom)
    {
        state.setCurrentImage(decoded(bitmap));
        state.setZoomAction(zoom);
        waitUntil([this] { return !view.isPreparing() && !state.zoomAction(); });
    }

    void paint() { view.viewport()->render(&target); }
};

} // namespace

static void BM_View_PaintFitted(benchmark::State &state)
{
    Viewer v;
    v.show(photo(), ZoomAction::fit);
    for (auto _ : state)
        v.paint();
    state.counters["magnification"] = v.view.magnification();
}
BENCHMARK(BM_View_PaintFitted)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

static void BM_View_PaintActualSizePanning(benchmark::State &state)
{
    Viewer v;
    v.show(photo(), ZoomAction::actualSize);
    QScrollBar *bar = v.view.horizontalScrollBar();
    int x = 0;
    for (auto _ : state) {
        x = (x + 7) % (bar->maximum() + 1);
        bar->setValue(x);
        v.paint();
    }
}
BENCHMARK(BM_View_PaintActualSizePanning)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The paint right after navigating to a new photo, fitted: drawn from the full bitmap under
// the cross-fade while the mipmaps are still being built.
static void BM_View_FirstPaintOfNewImage(benchmark::State &state)
{
    Viewer v;
    v.show(photo(), ZoomAction::fit);
    for (auto _ : state) {
        state.PauseTiming();
        v.tasks.waitForDone();
        QCoreApplication::processEvents();
        v.state.setCurrentImage(decoded(photo()));
        if (!v.view.isPreparing())
            state.SkipWithError("the mipmaps were ready before the first paint");
        state.ResumeTiming();
        v.paint();
    }
}
BENCHMARK(BM_View_FirstPaintOfNewImage)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
