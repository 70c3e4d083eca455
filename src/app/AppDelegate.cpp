#include "app/AppDelegate.h"

#include "core/settings/Settings.h"
#include "core/view/WindowSizing.h"
#include "platform/activation/WindowActivation.h"
#include "ui/ViewerWindow.h"

#include <QGuiApplication>
#include <QScreen>

namespace orva {

AppDelegate::AppDelegate(const AppServices &services, QObject *parent)
    : QObject(parent), services_(services), router_(services.settings)
{
}

void AppDelegate::launch(const QList<QUrl> &files, std::optional<AppState::StartedLoad> started)
{
    // Under memory pressure only the decodes of shown files go on.
    memoryPressure_ = std::make_unique<MemoryPressureMonitor>(
        services_.scheduler, [this] { router_.relieveMemoryPressure(); });
    router_.openFiles(files); // queued until the first window registers
    ViewerWindow *first = createWindow(std::nullopt, false, std::move(started));
    if (!files.isEmpty())
        return;
    // An empty launch window: the remembered size (or 400 x 300), centred.
    if (const QScreen *screen = first->screen()) {
        const QRect frame = launchWindowFrame(screen->availableGeometry(),
                                              Settings(services_.settings).savedWindowSize());
        first->expectProgrammaticResize();
        first->resize(frame.size());
        first->move(frame.topLeft());
    }
}

void AppDelegate::openFiles(const QList<QUrl> &files, const QByteArray &activationToken)
{
    // The window that shows the handed-over file comes forward: the shared window in
    // single-window mode, a window left empty that took it, or (once shown) a new one.
    handingOver_ = true;
    handOffToken_ = activationToken;
    router_.openFiles(files);
    handingOver_ = false;
    handOffToken_.clear();
    if (AppState *target = router_.lastTarget()) {
        activateWindow(target->window(), activationToken);
    } else if (files.isEmpty()) {
        // A later launch without files just brings Orva forward.
        for (AppState *s : router_.states())
            if (s->window()) {
                activateWindow(s->window(), activationToken);
                break;
            }
    }
}

ViewerWindow *AppDelegate::createWindow(const std::optional<QUrl> &file, bool activate,
                                        std::optional<AppState::StartedLoad> started)
{
    auto *window = new ViewerWindow(services_);
    if (started) // before the show, which hands the window its file
        window->state().adoptLoad(std::move(*started));
    window->resize(400, 300); // the remembered size follows when it is first shown
    const QByteArray token = activate ? handOffToken_ : QByteArray();
    connect(window, &ViewerWindow::firstShown, this, [this, window, file, activate, token] {
        router_.windowShown(window->state(), file,
                            [this](const QUrl &url) { createWindow(url, handingOver_); });
        if (activate)
            activateWindow(window->windowHandle(), token);
    });
    window->show();
    return window;
}

} // namespace orva
