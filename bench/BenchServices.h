#pragma once

// Services for benchmarks that run a viewer state on real decoding and clocks: one 1080p
// screen, no folder watching, no tags.
#include "core/services/DirectoryWatcher.h"
#include "core/services/ScreenInfo.h"
#include "core/services/TagStore.h"

#include <QCoreApplication>
#include <QEventLoop>

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
};

// Runs the event loop until `done` holds.
inline void waitUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace orva::bench
