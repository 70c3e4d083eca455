// GLib's headers use "signals" as a name: they come before anything of Qt's.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "platform/desktop/GioDesktopServices.h"

#include "core/listing/FolderListing.h"
#include "platform/wallpaper/DesktopWallpaper.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QMimeDatabase>

#include <algorithm>
#include <memory>

namespace orva {

namespace {

template <class T> struct GObjectDeleter {
    void operator()(T *p) const
    {
        if (p)
            g_object_unref(p);
    }
};
template <class T> using GObjectPtr = std::unique_ptr<T, GObjectDeleter<T>>;

struct GFreeDeleter {
    void operator()(void *p) const { g_free(p); }
};
using GString = std::unique_ptr<gchar, GFreeDeleter>;

QString fromUtf8(const char *text) { return text ? QString::fromUtf8(text) : QString(); }

DesktopApplication describe(GAppInfo *app)
{
    DesktopApplication entry;
    entry.name = fromUtf8(g_app_info_get_display_name(app));
    entry.identifier = fromUtf8(g_app_info_get_id(app));
    if (G_IS_DESKTOP_APP_INFO(app))
        if (const char *filename = g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(app)))
            entry.url = fileUrlFromLocalPath(QByteArray(filename));
    if (GIcon *icon = g_app_info_get_icon(app)) {
        const GString text(g_icon_to_string(icon));
        entry.icon = fromUtf8(text.get());
    }
    return entry;
}

void appendApplications(const QByteArray &type, QList<DesktopApplication> &result)
{
    GList *apps = g_app_info_get_all_for_type(type.constData());
    for (GList *it = apps; it; it = it->next) {
        const DesktopApplication entry = describe(G_APP_INFO(it->data));
        const bool listed = std::any_of(result.begin(), result.end(), [&entry](const auto &a) {
            return a.identifier == entry.identifier;
        });
        if (entry.url.isValid() && !listed)
            result.append(entry);
    }
    g_list_free_full(apps, g_object_unref);
}

} // namespace

QList<DesktopApplication> GioDesktopServices::applicationsForFile(const QUrl &file) const
{
    const QByteArray path = localPath(file);
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    // By name only: what the menu offers must not depend on reading the file.
    const GString type(g_content_type_guess(name.constData(), nullptr, 0, nullptr));
    // Entries may name the type by an alias (image/x-ms-bmp for image/bmp), which GIO
    // does not resolve in its cache. Types are case-insensitive; the cache's keys are not.
    QStringList types{fromUtf8(type.get())};
    types += QMimeDatabase().mimeTypeForName(types.front()).aliases();
    QList<DesktopApplication> result;
    for (const QString &t : std::as_const(types))
        appendApplications(t.toLower().toUtf8(), result);
    return result;
}

QString GioDesktopServices::ownApplicationIdentifier() const
{
    const QString name = QGuiApplication::desktopFileName();
    return name.isEmpty() ? QString() : name + QStringLiteral(".desktop");
}

void GioDesktopServices::openWith(const QUrl &file, const QUrl &application)
{
    GObjectPtr<GDesktopAppInfo> app(
        g_desktop_app_info_new_from_filename(localPath(application).constData()));
    if (!app)
        return;
    GObjectPtr<GFile> target(g_file_new_for_path(localPath(file).constData()));
    GList files{target.get(), nullptr, nullptr};
    GError *error = nullptr;
    g_app_info_launch(G_APP_INFO(app.get()), &files, nullptr, &error);
    if (error) // not reported: the application shows its own failure, if any
        g_error_free(error);
}

void openFolder(const QUrl &folder)
{
    const QByteArray uri = folder.toEncoded();
    GError *error = nullptr;
    g_app_info_launch_default_for_uri(uri.constData(), nullptr, &error);
    if (error)
        g_error_free(error);
}

void GioDesktopServices::reveal(const QUrl &file)
{
    const QUrl folder = folderOf(file);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromLatin1(file.toEncoded())} << QString();
    // Asynchronous: a file manager started by the call may take a while to answer.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [watcher, folder] {
        if (watcher->isError())
            openFolder(folder);
        watcher->deleteLater();
    });
}

void GioDesktopServices::copyImageToClipboard(const QImage &image)
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setImage(image);
}

std::optional<DesktopApplication>
GioDesktopServices::defaultApplicationForType(const QString &mimeType) const
{
    GObjectPtr<GAppInfo> app(g_app_info_get_default_for_type(mimeType.toUtf8().constData(), FALSE));
    if (!app)
        return std::nullopt;
    return describe(app.get());
}

std::optional<QString> GioDesktopServices::makeOwnApplicationDefault(const QString &mimeType)
{
    const QString id = ownApplicationIdentifier();
    GObjectPtr<GDesktopAppInfo> app(id.isEmpty() ? nullptr
                                                 : g_desktop_app_info_new(id.toUtf8().constData()));
    if (!app)
        return QObject::tr("Orva's desktop entry %1 is not installed.").arg(id);
    GError *error = nullptr;
    if (!g_app_info_set_as_default_for_type(G_APP_INFO(app.get()), mimeType.toUtf8().constData(),
                                            &error)) {
        const QString message = error ? fromUtf8(error->message) : QString();
        if (error)
            g_error_free(error);
        return message.isEmpty() ? QObject::tr("The default application could not be changed.")
                                 : message;
    }
    return std::nullopt;
}

WallpaperBackend *GioDesktopServices::wallpaperBackend()
{
    if (!wallpaper_)
        wallpaper_ = wallpaperBackendForDesktop(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    return wallpaper_.get();
}

} // namespace orva
