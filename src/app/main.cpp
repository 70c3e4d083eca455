#include "core/runtime/Scheduler.h"
#include "core/runtime/TaskRuntime.h"
#include "core/settings/Settings.h"
#include "imageio/ImageIOService.h"
#include "platform/screens/QtScreenInfo.h"
#include "platform/settings/QSettingsStore.h"
#include "platform/tags/XattrTagStore.h"
#include "platform/watch/InotifyDirectoryWatcher.h"
#include "ui/ViewerWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QScreen>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orva"));
    QApplication::setApplicationName(QStringLiteral("Orva"));
    QApplication::setApplicationVersion(QStringLiteral(ORVA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("orva"));

    orva::QSettingsStore settingsStore;
    orva::QtScheduler scheduler;
    orva::ImageIOService images;
    orva::QtScreenInfo screens;
    orva::InotifyDirectoryWatcherFactory watchers;
    orva::XattrTagStore tags;
    orva::TaskRuntime tasks; // destroyed first: its work uses the services above
    const orva::AppServices services{settingsStore, scheduler, tasks, images,
                                     screens,       watchers,  tags};

    auto *window = new orva::ViewerWindow(services);
    const QSizeF size = orva::Settings(settingsStore).savedWindowSize().value_or(QSizeF(400, 300));
    window->resize(size.toSize());
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size.toSize());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();
    const QStringList files = app.arguments().mid(1);
    if (!files.isEmpty())
        window->state().open(QUrl::fromLocalFile(QFileInfo(files.first()).absoluteFilePath()));

    return QApplication::exec();
}
