// A whole viewer window while the Right key is held over a folder of 24-megapixel photos:
// how long the main thread is ever kept from its event loop.
//   orva-bench --benchmark_filter=App
#include "ui/ImageViewer.h"
#include "ui/ViewerWindow.h"

#include "BenchServices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>

using namespace orva;
using namespace orva::bench;

namespace {

// Twenty 6000 x 4000 JPEGs of noisy gradients, written once.
const QTemporaryDir &photoFolder()
{
    static QTemporaryDir dir;
    static const bool written = [] {
        QImage im(6000, 4000, QImage::Format_RGB32);
        quint32 seed = 7;
        for (int i = 0; i < 20; ++i) {
            for (int y = 0; y < im.height(); ++y) {
                auto *line = reinterpret_cast<QRgb *>(im.scanLine(y));
                for (int x = 0; x < im.width(); ++x) {
                    seed = seed * 1664525u + 1013904223u;
                    const int n = int(seed >> 28) - 8;
                    line[x] = qRgb(std::clamp((x + i * 300) * 255 / 6000 % 256 + n, 0, 255),
                                   std::clamp(y * 255 / 4000 + n, 0, 255),
                                   std::clamp(i * 12 + n + 8, 0, 255));
                }
            }
            im.save(dir.filePath(QStringLiteral("photo%1.jpg").arg(i, 2, 10, QLatin1Char('0'))),
                    "JPEG", 90);
        }
        return true;
    }();
    Q_UNUSED(written);
    return dir;
}

} // namespace

// Key repeat at 30 per second for three seconds (repeats that arrive while the current
// photo is still decoding are dropped by the viewer); a 2 ms heartbeat timer measures every gap
// in the event loop. Counters: the longest stall and the 99th percentile, in ms, and how
// many distinct images reached the screen.
static void BM_App_HoldRightOver24MPJpegs(benchmark::State &state)
{
    const QTemporaryDir &folder = photoFolder();
    BenchServices services;
    ViewerWindow window(services.services);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.resize(1920, 1080);
    window.show();
    AppState &s = window.state();
    s.open(QUrl::fromLocalFile(folder.filePath(QStringLiteral("photo00.jpg"))));
    waitUntil([&] { return s.imageFiles().size() == 20 && s.currentImage().has_value(); });
    // A person looks at the first photo for a moment before holding the key.
    QElapsedTimer pause;
    pause.start();
    waitUntil([&] { return pause.elapsed() >= 500; });

    double worstStall = 0, p99 = 0;
    int imagesShown = 0;
    for (auto _ : state) {
        StallMeter meter;
        QTimer key;
        key.setTimerType(Qt::PreciseTimer);
        QObject::connect(&key, &QTimer::timeout, [&] {
            QCoreApplication::postEvent(
                &window.viewer(),
                new QKeyEvent(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true));
        });
        key.start(33);
        int shown = 0;
        const auto counter = QObject::connect(&s, &AppState::currentImageChanged, [&] { ++shown; });
        waitUntil([&] { return meter.elapsedMs() >= 3000; });
        QObject::disconnect(counter);
        fprintf(stderr, "index %d shown %d gaps %d\n", s.currentIndex(), shown, int(meter.count()));
        key.stop();
        meter.stop();
        worstStall = std::max(worstStall, meter.worst());
        p99 = meter.p99();
        imagesShown = shown;
    }
    state.counters["worst_stall_ms"] = worstStall;
    state.counters["p99_stall_ms"] = p99;
    state.counters["images_shown"] = imagesShown;
}
BENCHMARK(BM_App_HoldRightOver24MPJpegs)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
