#include "app/AppDelegate.h"
#include "core/listing/FolderListing.h"
#include "core/runtime/Scheduler.h"
#include "core/runtime/TaskRuntime.h"
#include "core/state/AppState.h"
#include "core/thumbnails/ThumbnailCache.h"
#include "imageio/ImageFormats.h"
#include "imageio/ImageIOService.h"
#include "platform/activation/WindowActivation.h"
#include "platform/desktop/GioDesktopServices.h"
#include "platform/files/PosixFileOperations.h"
#include "platform/instance/SingleInstance.h"
#include "platform/pointer/QtPointerEvents.h"
#include "platform/screens/QtScreenInfo.h"
#include "platform/settings/QSettingsStore.h"
#include "platform/tags/XattrTagStore.h"
#include "platform/thumbnails/FreedesktopThumbnails.h"
#include "platform/watch/InotifyDirectoryWatcher.h"
#include "ui/AppIcon.h"

#include <QApplication>
#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

int main(int argc, char *argv[])
{
    const orva::LaunchToken launchToken = orva::LaunchToken::fromEnvironment();
    QApplication app(argc, argv);
    // The table of supported formats (the MIME database, Qt's image plugins) is built on
    // another core while this one checks for a running instance.
    QFuture<void> formats = QtConcurrent::run([] { orva::supportedImageExtensions(); });
    QApplication::setOrganizationName(QStringLiteral("Orva"));
    QApplication::setApplicationName(QStringLiteral("Orva"));
    QApplication::setApplicationVersion(QStringLiteral(ORVA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(ORVA_APP_ID));

    // Orva has no options of its own: every argument is a file to open (Exec=orva %F).
    // Taken as bytes, since a file name need not be valid UTF-8 (QApplication has already
    // removed its own options from argv).
    QList<QUrl> files;
    for (int i = 1; i < argc; ++i)
        files << orva::standardizedFileUrl(orva::fileUrlFromLocalPath(QByteArray(argv[i])));

    orva::SingleInstance instance;
    if (instance.handOffOrServe(files, launchToken.forPlatform())) {
        formats.waitForFinished(); // not torn down under a running task
        return 0;
    }

    orva::QSettingsStore settingsStore;
    orva::QtScheduler scheduler;
    orva::ImageIOService images;
    orva::QtScreenInfo screens;
    orva::InotifyDirectoryWatcherFactory watchers;
    orva::XattrTagStore tags;
    orva::QtPointerEvents pointer;
    orva::PosixFileOperations fileOperations;
    orva::GioDesktopServices desktop;
    orva::FreedesktopThumbnails sharedThumbnails;
    orva::TaskRuntime tasks; // destroyed before the services its work uses
    // The one thumbnail cache of the process, shared by every window.
    orva::ThumbnailCache thumbnails(images, tasks, &sharedThumbnails);
    const orva::AppServices services{settingsStore,  scheduler, tasks,     images,
                                     screens,        watchers,  tags,      pointer,
                                     fileOperations, desktop,   thumbnails};

    // The file given at launch decodes while the window is made and shown; the window's
    // state takes the decode over.
    std::optional<orva::AppState::StartedLoad> started;
    formats.waitForFinished();
    if (!files.isEmpty())
        started = orva::AppState::startLoad(services, files.first());
    // Loading the icon loads Qt's image plugins: not before the decode has started.
    QApplication::setWindowIcon(orva::appIcon());

    orva::AppDelegate delegate(services);
    QObject::connect(&instance, &orva::SingleInstance::filesReceived, &delegate,
                     &orva::AppDelegate::openFiles);
    delegate.launch(files, std::move(started));
    return QApplication::exec();
}
