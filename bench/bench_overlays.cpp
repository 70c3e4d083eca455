// The histogram and navigator overlays over a 24-megapixel photo:
//   orva-bench --benchmark_filter=Overlay
// Histogram: from asking the panel for a file's counts to the drawn curves, against the
// preview decode the viewer starts for the same file (1080p screen), measured in one run,
// for a camera-like file (Exif thumbnail) and for one without any embedded thumbnail.
// Navigator drag: how long the main thread is ever kept from its event loop while a drag on
// the map pans a 24 MP photo at actual size.
#include "imageio/ImageDecoding.h"
#include "ui/HistogramView.h"
#include "ui/ImageViewer.h"
#include "ui/NavigatorOverlay.h"
#include "ui/ViewerWindow.h"
#include "ui/ZoomableImageView.h"

#include "BenchImages.h"
#include "BenchServices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

using namespace orva;
using namespace orva::bench;

namespace {

// A 6000 x 4000 JPEG of noisy gradients, written once; with `cameraThumbnail` it carries
// the 160 x 120 Exif thumbnail cameras write.
QString photo24mp(bool cameraThumbnail = false)
{
    static QTemporaryDir dir;
    static const QString bare = [] {
        QImage im(6000, 4000, QImage::Format_RGB32);
        quint32 seed = 99;
        for (int y = 0; y < im.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(im.scanLine(y));
            for (int x = 0; x < im.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int n = int(seed >> 28) - 8;
                line[x] = qRgb(
                    std::clamp(x * 255 / 6000 + n, 0, 255), std::clamp(y * 255 / 4000 + n, 0, 255),
                    std::clamp(int(127 + 100 * std::sin(x * 0.002 + y * 0.003)) + n, 0, 255));
            }
        }
        const QString p = dir.filePath(QStringLiteral("photo.jpg"));
        im.save(p, "JPEG", 90);
        return p;
    }();
    static const QString camera = [] {
        const QString p = dir.filePath(QStringLiteral("camera.jpg"));
        QFile::copy(bare, p);
        addExifThumbnail(p, QImage(bare));
        return p;
    }();
    return cameraThumbnail ? camera : bare;
}

} // namespace

// Argument 1: the file carries a camera's Exif thumbnail; 0: it has none and a bounded
// decode makes the thumbnail.
static void BM_Overlay_HistogramVsPreviewDecode(benchmark::State &state)
{
    const QUrl url = QUrl::fromLocalFile(photo24mp(state.range(0) == 1));
    BenchServices services;
    HistogramView panel(services.images, services.tasks);
    panel.show();
    double histogramMs = 0, previewMs = 0, thumbnailMs = 0, countMs = 0;
    int n = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        auto preview = decodeImage(url, 1920); // what the viewer asks for on this screen
        previewMs += clock.nsecsElapsed() / 1e6;
        if (!preview)
            state.SkipWithError("preview decode failed");

        clock.restart();
        const auto thumbnail = makeThumbnail(url, histogramThumbnailSize, histogramEmbeddedMinimum);
        thumbnailMs += clock.nsecsElapsed() / 1e6;
        if (thumbnail) {
            clock.restart();
            benchmark::DoNotOptimize(histogramOf(*thumbnail));
            countMs += clock.nsecsElapsed() / 1e6;
        }

        panel.setUrl(std::nullopt);
        clock.restart();
        panel.setUrl(url);
        waitUntil([&] { return panel.loader().status() != HistogramLoader::Status::computing; });
        panel.repaint();
        histogramMs += clock.nsecsElapsed() / 1e6;
        if (panel.loader().status() != HistogramLoader::Status::ready)
            state.SkipWithError("no histogram");
        ++n;
    }
    state.counters["histogram_ms"] = histogramMs / n;
    state.counters["preview_decode_ms"] = previewMs / n;
    state.counters["ratio"] = histogramMs / previewMs;
    state.counters["thumbnail_ms"] = thumbnailMs / n; // its parts, measured alone
    state.counters["counting_ms"] = countMs / n;
}
BENCHMARK(BM_Overlay_HistogramVsPreviewDecode)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

// Pointer moves at 120 per second along a loop over the whole map for three seconds; a
// 2 ms heartbeat timer measures every gap in the event loop. Counters: the longest stall
// and the 99th percentile in ms, and how many view positions were reported.
static void BM_Overlay_NavigatorDragOver24MP(benchmark::State &state)
{
    BenchServices services;
    ViewerWindow window(services.services);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.resize(1920, 1080);
    window.show();
    AppState &s = window.state();
    s.open(QUrl::fromLocalFile(photo24mp()));
    waitUntil([&] { return s.currentImage().has_value(); });
    s.applyDisplayMode(DisplayMode::actualSize);
    // Zoomed in, the full-resolution decode replaces the preview; drag over that.
    waitUntil([&] {
        return s.currentImage() && s.currentImage()->resolution >= 1.0 &&
               !window.imageView().isPreparing();
    });
    NavigatorOverlay &nav = window.viewer().navigator();
    if (!nav.isVisible())
        return state.SkipWithError("navigator not shown at actual size");

    double worstStall = 0, p99 = 0;
    int moves = 0;
    for (auto _ : state) {
        StallMeter meter;
        const QRectF map = nav.mapRect();
        auto at = [&](double t) {
            return map.center() +
                   QPointF(std::cos(t) * map.width() * 0.45, std::sin(t) * map.height() * 0.45);
        };
        auto send = [&](QEvent::Type type, QPointF pos, Qt::MouseButtons buttons) {
            QCoreApplication::postEvent(&nav,
                                        new QMouseEvent(type, pos, nav.mapToGlobal(pos),
                                                        Qt::LeftButton, buttons, Qt::NoModifier));
        };
        send(QEvent::MouseButtonPress, at(0), Qt::LeftButton);
        int step = 0;
        QTimer pointer;
        pointer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&pointer, &QTimer::timeout,
                         [&] { send(QEvent::MouseMove, at(++step * 0.05), Qt::LeftButton); });
        pointer.start(8);
        const auto counter = QObject::connect(&s, &AppState::visibleRectChanged, [&] { ++moves; });
        waitUntil([&] { return meter.elapsedMs() >= 3000; });
        QObject::disconnect(counter);
        pointer.stop();
        send(QEvent::MouseButtonRelease, at(step * 0.05), Qt::NoButton);
        QCoreApplication::processEvents();
        meter.stop();
        worstStall = std::max(worstStall, meter.worst());
        p99 = meter.p99();
    }
    state.counters["worst_stall_ms"] = worstStall;
    state.counters["p99_stall_ms"] = p99;
    state.counters["view_moves"] = moves;
}
BENCHMARK(BM_Overlay_NavigatorDragOver24MP)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
