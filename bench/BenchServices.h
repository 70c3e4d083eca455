#pragma once

// Services for benchmarks that run a viewer state on real decoding and clocks: one 1080p
// screen, no folder watching, no tags.
#include "core/runtime/Scheduler.h"
#include "core/runtime/TaskRuntime.h"
#include "core/services/DirectoryWatcher.h"
#include "core/services/PointerEvents.h"
#include "core/services/ScreenInfo.h"
#include "core/services/TagStore.h"
#include "core/state/AppState.h"
#include "core/thumbnails/ThumbnailCache.h"
#include "imageio/ImageIOService.h"
#include "platform/desktop/GioDesktopServices.h"
#include "platform/files/PosixFileOperations.h"
#include "platform/settings/QSettingsStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>

#include <functional>
#include <memory>

namespace orva::bench {

class OneScreen final : public ScreenInfo {
public:
    QList<ScreenGeometry> screens() const override { return {{QSizeF(1920, 1080), 1.0}}; }
};

class NoWatch final : public DirectoryWatcherFactory {
public:
    std::unique_ptr<DirectoryWatcher> watch(const QUrl &, std::function<void()>) override
    {
        return nullptr;
    }
};

class NoTags final : public TagStore {
public:
    QStringList readTags(const QUrl &) const override { return {}; }
    std::optional<QString> writeTags(const QUrl &, const QStringList &) override
    {
        return QStringLiteral("Operation not supported");
    }
};

class NoPointer final : public PointerEvents {
public:
    std::unique_ptr<Monitor> addMouseMovedMonitor(std::function<void(QWindow *)>) override
    {
        return std::make_unique<Monitor>();
    }
    void hidePointerUntilMouseMoves() override {}
};

// Real decoding, settings in a temporary file and Qt's clock; folder watching as chosen. The
// task runtime comes after the services so that it stops (waiting for its work) before they go.
template <class Watchers = NoWatch> struct BenchServicesWith {
    QTemporaryDir settingsDir;
    QSettingsStore settings{settingsDir.filePath(QStringLiteral("bench.conf"))};
    QtScheduler scheduler;
    ImageIOService images;
    OneScreen screens;
    Watchers watchers;
    NoTags tags;
    NoPointer pointer;
    PosixFileOperations files;
    GioDesktopServices desktop;
    ThumbnailCache thumbnails{images, tasks};
    TaskRuntime tasks;
    AppServices services{settings, scheduler, tasks, images,  screens,   watchers,
                         tags,     pointer,   files, desktop, thumbnails};
};
using BenchServices = BenchServicesWith<>;

// A viewer state on those services.
struct BenchState : BenchServices {
    AppState state{services};
};

// Runs the event loop until `done` holds.
inline void waitUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Measures how long the main thread is kept from its event loop: a 2 ms heartbeat timer
// records every gap while it runs. Stalls are gaps minus the heartbeat period, in ms.
class StallMeter {
public:
    StallMeter()
    {
        heartbeat_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&heartbeat_, &QTimer::timeout, [this] {
            const double now = clock_.nsecsElapsed() / 1e6;
            gaps_ << now - last_;
            last_ = now;
        });
        clock_.start();
        heartbeat_.start(period);
    }
    qint64 elapsedMs() const { return clock_.elapsed(); }
    void stop()
    {
        heartbeat_.stop();
        std::sort(gaps_.begin(), gaps_.end());
    }
    double worst() const { return gaps_.isEmpty() ? 0.0 : gaps_.last() - period; }
    double p99() const
    {
        return gaps_.isEmpty() ? 0.0 : gaps_[qsizetype(gaps_.size() * 0.99)] - period;
    }
    qsizetype count() const { return gaps_.size(); }

private:
    static constexpr int period = 2;
    QList<double> gaps_;
    QElapsedTimer clock_;
    double last_ = 0;
    QTimer heartbeat_;
};

} // namespace orva::bench
