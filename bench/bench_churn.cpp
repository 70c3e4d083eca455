// A viewer window stepping through a folder of 20,000 photos while another program creates
// and deletes 100 files a second in it for 30 seconds: how long the main thread is ever
// kept from its event loop, and how soon after the churn the list matches the folder.
//   orva-bench --benchmark_filter=Churn
// ORVA_CHURN_SECONDS shortens the churn for a quick look.
#include "core/listing/FolderListing.h"
#include "platform/watch/InotifyDirectoryWatcher.h"
#include "ui/ImageViewer.h"
#include "ui/ViewerWindow.h"

#include "BenchServices.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace orva;
using namespace orva::bench;

namespace {

constexpr int folderSize = 20000;
constexpr int tickMs = 10;

QByteArray smallPhoto()
{
    QImage image(160, 120, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

void writeFile(const QByteArray &path, const QByteArray &data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t n = ::write(fd, data.constData(), size_t(data.size()));
    ::close(fd);
}

} // namespace

// Counters: the longest main-thread stall and its 99th percentile (ms), the images shown
// while stepping, and the time from the end of the churn to a list equal to the folder's
// content (ms, measured to the last change of the list; the rescan debounce is 300 ms
// of it).
// Argument: 1 with the churn, 0 for the reference (stepping alone, same folder and time).
static void BM_App_FolderChurn(benchmark::State &state)
{
    const bool churning = state.range(0) != 0;
    const double churnSeconds = qEnvironmentVariableIsSet("ORVA_CHURN_SECONDS")
                                    ? qEnvironmentVariable("ORVA_CHURN_SECONDS").toDouble()
                                    : 30.0;
    QTemporaryDir folder;
    const QByteArray base = QFile::encodeName(folder.path()) + '/';
    const QByteArray photo = smallPhoto();
    for (int i = 0; i < folderSize; ++i)
        writeFile(base + "photo" + QByteArray::number(i).rightJustified(5, '0') + ".jpg", photo);

    BenchServicesWith<InotifyDirectoryWatcherFactory> services;
    ViewerWindow window(services.services);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.resize(1280, 800);
    window.show();
    AppState &s = window.state();
    s.open(QUrl::fromLocalFile(folder.filePath(QStringLiteral("photo00000.jpg"))));
    waitUntil([&] { return s.imageFiles().size() == folderSize && s.currentImage().has_value(); });

    double worstStall = 0, p99 = 0, convergedMs = -1;
    int shown = 0;
    for (auto _ : state) {
        StallMeter stalls;
        QTimer key; // Right held down: an auto-repeat press every 33 ms
        key.setTimerType(Qt::PreciseTimer);
        QObject::connect(&key, &QTimer::timeout, [&] {
            QCoreApplication::postEvent(
                &window.viewer(),
                new QKeyEvent(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true));
        });
        key.start(33);
        const auto counter = QObject::connect(&s, &AppState::currentImageChanged, [&] { ++shown; });
        qint64 lastListChange = -1;
        const auto listChanges = QObject::connect(&s, &AppState::imageFilesChanged,
                                                  [&] { lastListChange = stalls.elapsedMs(); });

        // Another program: every 10 ms one new file, and one of those from half a second
        // ago deleted (with churn; the reference run only steps for as long).
        std::atomic<bool> churnDone = false;
        std::thread churn([&] {
            const auto start = std::chrono::steady_clock::now();
            const int ticks = int(churnSeconds * 1000 / tickMs);
            const int lag = 500 / tickMs;
            for (int i = 0; i < ticks; ++i) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(i * tickMs));
                if (!churning)
                    continue;
                writeFile(base + "churn" + QByteArray::number(i) + ".jpg", photo);
                if (i >= lag)
                    ::unlink((base + "churn" + QByteArray::number(i - lag) + ".jpg").constData());
            }
            churnDone = true;
        });
        waitUntil([&] { return churnDone.load(); });
        churn.join();
        key.stop();
        QObject::disconnect(counter);
        const qint64 churnEnd = stalls.elapsedMs();
        // What the folder now holds, listed off the main thread so the meter sees only
        // the viewer's own work.
        std::optional<QList<QUrl>> truth;
        std::atomic<bool> listed = false;
        std::thread lister([&, including = s.currentURL()] {
            truth = listImageFiles(QUrl::fromLocalFile(folder.path()), including, SortOrder::name,
                                   false, services.images);
            listed = true;
        });
        waitUntil([&] { return listed.load(); });
        lister.join();
        waitUntil([&] {
            return (truth && s.imageFiles() == *truth) || stalls.elapsedMs() > churnEnd + 10000;
        });
        convergedMs = truth && s.imageFiles() == *truth
                          ? double(std::max<qint64>(0, lastListChange - churnEnd))
                          : -1;
        QObject::disconnect(listChanges);
        stalls.stop();
        worstStall = stalls.worst();
        p99 = stalls.p99();
    }
    state.counters["worst_stall_ms"] = worstStall;
    state.counters["p99_stall_ms"] = p99;
    state.counters["images_shown"] = shown;
    state.counters["converged_ms"] = convergedMs;
}
BENCHMARK(BM_App_FolderChurn)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);
