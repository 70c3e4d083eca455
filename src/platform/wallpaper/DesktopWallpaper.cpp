// GLib's headers use "signals" as a name: they come before anything of Qt's.
#include <gio/gio.h>

#include "platform/wallpaper/DesktopWallpaper.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QUrl>
#include <QVariantMap>

#include <algorithm>

namespace orva {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("DesktopWallpaper", text); }

QString noSessionBus()
{
    return tr("There is no session bus, so Orva cannot reach the desktop to set its picture.");
}

QString notKept() { return tr("The desktop did not keep the new picture."); }

struct SettingsHandle {
    GSettingsSchema *schema = nullptr;
    GSettings *settings = nullptr;
    ~SettingsHandle()
    {
        if (settings)
            g_object_unref(settings);
        if (schema)
            g_settings_schema_unref(schema);
    }
};

// A GSettings object for the schema; false when the schema or its first key is missing.
// Further keys (a dark-style picture) are used only where the schema has them.
bool openSchema(const QString &id, QStringList &keys, SettingsHandle &handle)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    if (!source)
        return false;
    handle.schema = g_settings_schema_source_lookup(source, id.toUtf8().constData(), TRUE);
    if (!handle.schema)
        return false;
    if (keys.isEmpty() ||
        !g_settings_schema_has_key(handle.schema, keys.front().toUtf8().constData()))
        return false;
    keys.removeIf([&handle](const QString &key) {
        return !g_settings_schema_has_key(handle.schema, key.toUtf8().constData());
    });
    handle.settings = g_settings_new_full(handle.schema, nullptr, nullptr);
    return handle.settings != nullptr;
}

QString readString(GSettings *settings, const QString &key)
{
    gchar *value = g_settings_get_string(settings, key.toUtf8().constData());
    const QString result = QString::fromUtf8(value);
    g_free(value);
    return result;
}

// dconf without a session bus accepts writes and stores nothing.
bool needsSessionBus()
{
    const QByteArray backend = qgetenv("GSETTINGS_BACKEND");
    return backend.isEmpty() || backend == "dconf";
}

QDBusMessage plasmaCall(const QString &script)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.plasmashell"), QStringLiteral("/PlasmaShell"),
        QStringLiteral("org.kde.PlasmaShell"), QStringLiteral("evaluateScript"));
    call << script;
    return QDBusConnection::sessionBus().call(call);
}

QString serviceMissing(const QString &service)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return noSessionBus();
    if (!bus.interface() || !bus.interface()->isServiceRegistered(service))
        return tr("The desktop's service %1 is not running.").arg(service);
    return {};
}

QString scriptString(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

const QString xfconfService = QStringLiteral("org.xfce.Xfconf");

QDBusMessage xfconfCall(const QString &method, const QVariantList &arguments)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(xfconfService, QStringLiteral("/org/xfce/Xfconf"),
                                       QStringLiteral("org.xfce.Xfconf"), method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call);
}

// Every "last-image" property of the desktop channel, one per monitor and workspace.
QStringList xfceImageProperties()
{
    const QDBusMessage reply =
        xfconfCall(QStringLiteral("GetAllProperties"),
                   {QStringLiteral("xfce4-desktop"), QStringLiteral("/backdrop")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    QVariantMap properties;
    const QVariant first = reply.arguments().constFirst();
    if (first.canConvert<QDBusArgument>())
        first.value<QDBusArgument>() >> properties;
    else
        properties = first.toMap();
    QStringList result;
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        if (it.key().endsWith(QLatin1String("/last-image")))
            result << it.key();
    return result;
}

QString xfceProperty(const QString &property)
{
    const QDBusMessage reply =
        xfconfCall(QStringLiteral("GetProperty"), {QStringLiteral("xfce4-desktop"), property});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    QVariant value = reply.arguments().constFirst();
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value.toString();
}

} // namespace

GSettingsWallpaper::GSettingsWallpaper(QString schema, QStringList keys, bool asUri)
    : schema_(std::move(schema)), keys_(std::move(keys)), asUri_(asUri)
{
}

QString GSettingsWallpaper::unavailableReason() const
{
    SettingsHandle handle;
    QStringList keys = keys_;
    if (!openSchema(schema_, keys, handle))
        return tr("The desktop's settings schema %1 is not installed.").arg(schema_);
    if (needsSessionBus() && !QDBusConnection::sessionBus().isConnected())
        return noSessionBus();
    return {};
}

std::optional<QString> GSettingsWallpaper::setPicture(const QString &path)
{
    const QString reason = unavailableReason();
    if (!reason.isEmpty())
        return reason;
    SettingsHandle handle;
    QStringList keys = keys_;
    if (!openSchema(schema_, keys, handle))
        return tr("The desktop's settings schema %1 is not installed.").arg(schema_);
    const QString value = asUri_ ? QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) : path;
    for (const QString &key : std::as_const(keys))
        if (!g_settings_set_string(handle.settings, key.toUtf8().constData(),
                                   value.toUtf8().constData()))
            return notKept();
    g_settings_sync();
    for (const QString &key : std::as_const(keys))
        if (readString(handle.settings, key) != value)
            return notKept();
    return std::nullopt;
}

QStringList GSettingsWallpaper::picturesInUse() const
{
    SettingsHandle handle;
    QStringList keys = keys_;
    if (!openSchema(schema_, keys, handle))
        return {};
    QStringList paths;
    for (const QString &key : std::as_const(keys)) {
        const QString value = readString(handle.settings, key);
        paths << (asUri_ ? QUrl(value).toLocalFile() : value);
    }
    return paths;
}

QString PlasmaWallpaper::unavailableReason() const
{
    return serviceMissing(QStringLiteral("org.kde.plasmashell"));
}

std::optional<QString> PlasmaWallpaper::setPicture(const QString &path)
{
    const QString reason = unavailableReason();
    if (!reason.isEmpty())
        return reason;
    const QString uri = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    const QString script =
        QStringLiteral("for (const d of desktops()) {"
                       " d.wallpaperPlugin = 'org.kde.image';"
                       " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];"
                       " d.writeConfig('Image', %1); }")
            .arg(scriptString(uri));
    const QDBusMessage reply = plasmaCall(script);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return reply.errorMessage();
    const QStringList shown = picturesInUse();
    if (shown.isEmpty() ||
        !std::all_of(shown.begin(), shown.end(), [&path](const QString &p) { return p == path; }))
        return notKept();
    return std::nullopt;
}

QStringList PlasmaWallpaper::picturesInUse() const
{
    if (!unavailableReason().isEmpty())
        return {};
    const QDBusMessage reply = plasmaCall(
        QStringLiteral("for (const d of desktops()) {"
                       " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];"
                       " print(d.readConfig('Image') + '\\n'); }"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    QStringList paths;
    for (const QString &line :
         reply.arguments().constFirst().toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QUrl url(line.trimmed());
        paths << (url.isLocalFile() ? url.toLocalFile() : line.trimmed());
    }
    return paths;
}

QString XfceWallpaper::unavailableReason() const { return serviceMissing(xfconfService); }

std::optional<QString> XfceWallpaper::setPicture(const QString &path)
{
    const QString reason = unavailableReason();
    if (!reason.isEmpty())
        return reason;
    const QStringList properties = xfceImageProperties();
    if (properties.isEmpty())
        return tr("The desktop lists no monitor whose picture could be set.");
    for (const QString &property : properties) {
        const QDBusMessage reply =
            xfconfCall(QStringLiteral("SetProperty"), {QStringLiteral("xfce4-desktop"), property,
                                                       QVariant::fromValue(QDBusVariant(path))});
        if (reply.type() == QDBusMessage::ErrorMessage)
            return reply.errorMessage();
        if (xfceProperty(property) != path)
            return notKept();
    }
    return std::nullopt;
}

QStringList XfceWallpaper::picturesInUse() const
{
    if (!unavailableReason().isEmpty())
        return {};
    QStringList paths;
    for (const QString &property : xfceImageProperties())
        paths << xfceProperty(property);
    return paths;
}

std::unique_ptr<WallpaperBackend> wallpaperBackendForDesktop(const QString &currentDesktop)
{
    const QStringList names = currentDesktop.toLower().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &name : names) {
        if (name == QLatin1String("gnome") || name == QLatin1String("unity") ||
            name == QLatin1String("budgie"))
            return std::make_unique<GSettingsWallpaper>(
                QStringLiteral("org.gnome.desktop.background"),
                QStringList{QStringLiteral("picture-uri"), QStringLiteral("picture-uri-dark")},
                true);
        if (name == QLatin1String("x-cinnamon") || name == QLatin1String("cinnamon"))
            return std::make_unique<GSettingsWallpaper>(
                QStringLiteral("org.cinnamon.desktop.background"),
                QStringList{QStringLiteral("picture-uri")}, true);
        if (name == QLatin1String("mate"))
            return std::make_unique<GSettingsWallpaper>(
                QStringLiteral("org.mate.background"),
                QStringList{QStringLiteral("picture-filename")}, false);
        if (name == QLatin1String("kde"))
            return std::make_unique<PlasmaWallpaper>();
        if (name == QLatin1String("xfce"))
            return std::make_unique<XfceWallpaper>();
    }
    if (names.isEmpty())
        return std::make_unique<UnsupportedWallpaper>(
            tr("Orva cannot tell which desktop is running (XDG_CURRENT_DESKTOP is not set), "
               "so it cannot set the desktop picture."));
    return std::make_unique<UnsupportedWallpaper>(
        tr("Orva cannot set the desktop picture on this desktop (%1).").arg(currentDesktop));
}

} // namespace orva
