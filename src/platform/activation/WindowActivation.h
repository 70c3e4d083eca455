#pragma once

#include <QByteArray>

class QWindow;

namespace orva {

// The token the desktop gave this launch to bring a window forward: the Wayland activation
// token or the X11 startup id. Qt's X11 plugin removes DESKTOP_STARTUP_ID from the
// environment when the application object is made, so read it before that.
struct LaunchToken {
    QByteArray wayland; // XDG_ACTIVATION_TOKEN
    QByteArray x11;     // DESKTOP_STARTUP_ID
    static LaunchToken fromEnvironment();
    // The one that suits the running platform plugin.
    QByteArray forPlatform() const;
};

// Raises the window and asks for the keyboard focus with a launch's token (empty: none).
// The token tells the window manager that the user asked for this window, so its focus
// stealing prevention lets it come forward over the window the user last worked in; on X11
// it also completes the launch's startup notification (the launcher's busy cursor).
void activateWindow(QWindow *window, const QByteArray &token);

// The X server time carried by a startup id ("..._TIME<n>"); 0 when it carries none.
quint32 startupIdTime(const QByteArray &id);

} // namespace orva
