#include "core/state/AppState.h"

#include <algorithm>

namespace orva {

namespace {
constexpr double statusBarHold = 2.0;
constexpr double shortestHideSleep = 0.05;
} // namespace

bool isFullScreen(const QWindow *window)
{
    return window && (window->windowStates() & Qt::WindowFullScreen);
}

void toggleFullScreen(QWindow *window)
{
    if (window)
        window->setWindowStates(window->windowStates() ^ Qt::WindowFullScreen);
}

void AppState::startSlideshow()
{
    if (imageFiles_.size() < 2 || isSlideshowRunning_)
        return;
    setSlideshowRunning(true);
    if (window_ && !isFullScreen(window_)) {
        slideshowEnteredFullScreen_ = true;
        toggleFullScreen(window_);
    }
    // Read once: a changed setting applies from the next start.
    scheduleSlideshowStep(settings().slideshowInterval());
}

void AppState::scheduleSlideshowStep(double interval)
{
    slideshowTask_ = services_.scheduler.after(interval, [this, interval] {
        // A list that shrank to one file (deleted from outside, or another file opened)
        // has nothing to step through.
        if (imageFiles_.size() < 2) {
            stopSlideshow();
            return;
        }
        services_.pointer.hidePointerUntilMouseMoves();
        navigate(+1);
        // The step may have emptied the list, which stops the slideshow.
        if (isSlideshowRunning_)
            scheduleSlideshowStep(interval);
    });
}

void AppState::stopSlideshow()
{
    if (!isSlideshowRunning_)
        return;
    slideshowTask_.cancel();
    setSlideshowRunning(false);
    // Only the full screen the slideshow entered is left, and only if the user has not
    // left it already.
    if (slideshowEnteredFullScreen_ && isFullScreen(window_))
        toggleFullScreen(window_);
    slideshowEnteredFullScreen_ = false;
}

void AppState::revealStatusBar()
{
    setShowStatusBar(true);
    setHideStatusBarDeadline(services_.scheduler.now() + statusBarHold);
    // A running timer is not restarted: it reads the moved deadline when it wakes.
    if (!hideStatusBarTask_.isPending())
        scheduleStatusBarHide();
}

void AppState::scheduleStatusBarHide()
{
    const double wait =
        std::max(hideStatusBarDeadline_ - services_.scheduler.now(), shortestHideSleep);
    setHideStatusBarTask(services_.scheduler.after(wait, [this] {
        if (services_.scheduler.now() < hideStatusBarDeadline_) {
            scheduleStatusBarHide();
            return;
        }
        setHideStatusBarTask({});
        setShowStatusBar(false);
    }));
}

} // namespace orva
