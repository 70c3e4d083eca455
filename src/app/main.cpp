#include "core/runtime/Scheduler.h"
#include "core/runtime/TaskRuntime.h"
#include "core/settings/Settings.h"
#include "platform/settings/QSettingsStore.h"
#include "ui/ViewerWindow.h"

#include <QApplication>
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
    orva::TaskRuntime tasks;
    const orva::AppServices services{settingsStore, scheduler, tasks};

    auto *window = new orva::ViewerWindow(services);
    const QSizeF size = orva::Settings(settingsStore).savedWindowSize().value_or(QSizeF(400, 300));
    window->resize(size.toSize());
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size.toSize());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();

    const int rc = QApplication::exec();
    tasks.waitForDone();
    return rc;
}
