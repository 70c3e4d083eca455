#pragma once

#include "core/routing/WindowRouter.h"
#include "core/state/AppServices.h"
#include "core/state/AppState.h"

#include "platform/memory/MemoryPressureMonitor.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

namespace orva {

class ViewerWindow;

// The application's side of window routing: turns files from the desktop into routed
// open requests and creates viewer windows when the router asks for one.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(const AppServices &services, QObject *parent = nullptr);

    // Files given at launch (possibly none): queued, then the first window comes up and
    // takes them; without files the empty window is centred at its remembered size. A
    // decode started for the first file goes to the first window.
    void launch(const QList<QUrl> &files,
                std::optional<AppState::StartedLoad> started = std::nullopt);
    // Files handed over by a later launch; the window that takes them comes forward, with
    // the launch's activation token (empty when it had none).
    void openFiles(const QList<QUrl> &files, const QByteArray &activationToken);

    WindowRouter &router() { return router_; }

private:
    ViewerWindow *createWindow(const std::optional<QUrl> &file, bool activate,
                               std::optional<AppState::StartedLoad> started = std::nullopt);

    AppServices services_;
    WindowRouter router_;
    std::unique_ptr<MemoryPressureMonitor> memoryPressure_;
    bool handingOver_ = false; // windows created meanwhile come forward when shown
    QByteArray handOffToken_;  // ... using this token
};

} // namespace orva
