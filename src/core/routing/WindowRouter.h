#pragma once

#include <QList>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <optional>

namespace orva {

class AppState;
class SettingsStore;

// Decides which viewer window shows each file the desktop asks Orva to open: one window
// per file (multi-window mode, the default) or one shared window. Holds the viewer states
// weakly (a closed window's state simply drops out), queues files that arrive before any
// window can take them, and relieves memory pressure. Main thread only.
class WindowRouter {
public:
    explicit WindowRouter(SettingsStore &settings) : settings_(settings) {}

    // Files from the desktop (launch arguments or a later launch), oldest first.
    void openFiles(const QList<QUrl> &urls);

    // What a viewer window does when it is shown: open its own file if it was created for
    // one, register, offer its way of opening new windows, route what is queued and, in
    // single-window mode, close windows left empty.
    void windowShown(AppState &state, const std::optional<QUrl> &fileForWindow,
                     std::function<void(const QUrl &)> openWindow);

    // Routes the queue. Re-entrant calls (a window registering while routing) return.
    void flushPendingURLs();
    // Single-window mode: closes every empty window once some window shows an image.
    void closeEmptyWindows();
    // Cancels every preview decode that is not for a shown file.
    void relieveMemoryPressure();

    QList<QUrl> pendingURLs() const { return pending_; }
    // The existing window that took the last file routed by openFiles(); null when that
    // file went to a new window or is still queued. Whoever handed the file over brings
    // this window forward.
    AppState *lastTarget() const;
    QList<AppState *> states() const;

private:
    SettingsStore &settings_;
    QList<QPointer<AppState>> states_;
    QList<QUrl> pending_;
    std::function<void(const QUrl &)> openWindow_;
    QPointer<AppState> lastTarget_;
    bool flushing_ = false;
};

} // namespace orva
