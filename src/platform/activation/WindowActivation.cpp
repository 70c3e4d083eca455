#include "platform/activation/WindowActivation.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>

namespace orva {

namespace {

bool onX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }
bool onWayland() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, false, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return a;
}

// A startup-notification message goes to the root window in 20-byte pieces, the first one
// of its own type, the text ending with a NUL.
void sendStartupMessage(xcb_connection_t *c, xcb_window_t root, xcb_window_t from,
                        const QByteArray &message)
{
    const xcb_atom_t begin = atom(c, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = atom(c, "_NET_STARTUP_INFO");
    const qsizetype length = message.size() + 1;
    for (qsizetype sent = 0; sent < length; sent += 20) {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 8;
        ev.window = from;
        ev.type = sent == 0 ? begin : more;
        // constData() ends with a NUL, which the last piece carries.
        std::memcpy(ev.data.data8, message.constData() + sent,
                    size_t(std::min<qsizetype>(20, length - sent)));
        xcb_send_event(c, false, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char *>(&ev));
    }
}

void useStartupId(QWindow *window, const QByteArray &id)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t *c = x11->connection();
    const auto w = xcb_window_t(window->winId());
    xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
    if (!tree)
        return;
    const xcb_window_t root = tree->root;
    free(tree);

    // Window managers match a window to its launch through this property.
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_STARTUP_ID"),
                        atom(c, "UTF8_STRING"), 8, uint32_t(id.size()), id.constData());
    // Qt asks with the time of the last event this process saw, which is older than the
    // user's click in the launcher; ask again with the launch's own time.
    if (const quint32 time = startupIdTime(id)) {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = w;
        ev.type = atom(c, "_NET_ACTIVE_WINDOW");
        ev.data.data32[0] = 1; // from an application
        ev.data.data32[1] = time;
        xcb_send_event(c, false, root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char *>(&ev));
    }
    sendStartupMessage(c, root, w, "remove: ID=" + id);
    xcb_flush(c);
}

} // namespace

LaunchToken LaunchToken::fromEnvironment()
{
    return {qgetenv("XDG_ACTIVATION_TOKEN"), qgetenv("DESKTOP_STARTUP_ID")};
}

QByteArray LaunchToken::forPlatform() const
{
    const bool wayland = onWayland();
    const QByteArray &preferred = wayland ? this->wayland : x11;
    return !preferred.isEmpty() ? preferred : wayland ? x11 : this->wayland;
}

quint32 startupIdTime(const QByteArray &id)
{
    const qsizetype at = id.lastIndexOf("_TIME");
    if (at < 0)
        return 0;
    bool ok = false;
    const quint32 time = id.mid(at + 5).toUInt(&ok);
    return ok ? time : 0;
}

void activateWindow(QWindow *window, const QByteArray &token)
{
    if (!window)
        return;
    // Qt's Wayland plugin hands this token to the compositor with the next activation.
    if (!token.isEmpty() && onWayland())
        qputenv("XDG_ACTIVATION_TOKEN", token);
    window->raise();
    window->requestActivate();
    if (!token.isEmpty() && onX11())
        useStartupId(window, token);
}

} // namespace orva
