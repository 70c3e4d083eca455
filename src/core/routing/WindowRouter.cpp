#include "core/routing/WindowRouter.h"

#include "core/settings/Settings.h"
#include "core/state/AppState.h"

#include <QWindow>

#include <algorithm>

namespace orva {

QList<AppState *> WindowRouter::states() const
{
    QList<AppState *> out;
    for (const QPointer<AppState> &s : states_)
        if (s)
            out << s.data();
    return out;
}

AppState *WindowRouter::lastTarget() const { return lastTarget_.data(); }

void WindowRouter::openFiles(const QList<QUrl> &urls)
{
    lastTarget_ = nullptr;
    pending_ += urls;
    flushPendingURLs();
}

void WindowRouter::windowShown(AppState &state, const std::optional<QUrl> &fileForWindow,
                               std::function<void(const QUrl &)> openWindow)
{
    if (fileForWindow && !state.currentURL())
        state.open(*fileForWindow);
    states_.removeAll(nullptr);
    if (!states_.contains(&state))
        states_ << &state;
    openWindow_ = std::move(openWindow);
    flushPendingURLs();
    closeEmptyWindows();
}

void WindowRouter::flushPendingURLs()
{
    if (!openWindow_ || flushing_)
        return;
    flushing_ = true;
    const QList<AppState *> live = states();
    if (!Settings(settings_).isMultiWindowMode()) {
        // One shared window: the first queued file goes to the window showing an image
        // (or the first window); files queued with it are dropped.
        AppState *target = nullptr;
        for (AppState *s : live)
            if (s->currentURL()) {
                target = s;
                break;
            }
        if (!target && !live.isEmpty())
            target = live.first();
        if (!pending_.isEmpty() && target) {
            const QUrl url = pending_.first();
            pending_.clear();
            lastTarget_ = target;
            target->open(url);
            closeEmptyWindows();
        }
    } else {
        // A window shown by the action registers at once and replaces openWindow_ while
        // this copy is still running.
        const std::function<void(const QUrl &)> openWindow = openWindow_;
        while (!pending_.isEmpty()) {
            const QUrl url = pending_.takeFirst();
            AppState *empty = nullptr;
            for (AppState *s : states())
                if (!s->currentURL()) {
                    empty = s;
                    break;
                }
            lastTarget_ = empty;
            if (empty)
                empty->open(url); // sets currentURL at once, so the next file goes elsewhere
            else
                openWindow(url);
        }
    }
    flushing_ = false;
}

void WindowRouter::closeEmptyWindows()
{
    if (Settings(settings_).isMultiWindowMode())
        return;
    const QList<AppState *> live = states();
    const bool anyShowing = std::any_of(live.begin(), live.end(),
                                        [](AppState *s) { return s->currentURL().has_value(); });
    if (!anyShowing)
        return;
    for (AppState *s : live)
        if (!s->currentURL() && s->window())
            s->window()->close();
}

void WindowRouter::relieveMemoryPressure()
{
    for (AppState *s : states())
        if (s->currentURL())
            s->cancelPrefetches();
}

} // namespace orva
