#include "app/AppDelegate.h"

#include "core/settings/Settings.h"
#include "core/view/WindowSizing.h"
#include "ui/ViewerWindow.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>

namespace orva {

namespace {

QList<QUrl> toUrls(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(QFileInfo(p).absoluteFilePath());
    return urls;
}

} // namespace

AppDelegate::AppDelegate(const AppServices &services, QObject *parent)
    : QObject(parent), services_(services), router_(services.settings)
{
}

void AppDelegate::launch(const QStringList &paths)
{
    // Under memory pressure only the decodes of shown files go on.
    memoryPressure_ = std::make_unique<MemoryPressureMonitor>(
        services_.scheduler, [this] { router_.relieveMemoryPressure(); });
    router_.openFiles(toUrls(paths)); // queued until the first window registers
    ViewerWindow *first = createWindow(std::nullopt);
    if (!paths.isEmpty())
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

void AppDelegate::openFiles(const QStringList &paths)
{
    router_.openFiles(toUrls(paths));
    // A later launch without files just brings Orva forward.
    for (AppState *s : router_.states())
        if (s->window()) {
            s->window()->requestActivate();
            break;
        }
}

ViewerWindow *AppDelegate::createWindow(const std::optional<QUrl> &file)
{
    auto *window = new ViewerWindow(services_);
    window->resize(400, 300); // the remembered size follows when it is first shown
    connect(window, &ViewerWindow::firstShown, this, [this, window, file] {
        router_.windowShown(window->state(), file, [this](const QUrl &url) { createWindow(url); });
    });
    window->show();
    return window;
}

} // namespace orva
