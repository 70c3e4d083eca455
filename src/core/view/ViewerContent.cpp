#include "core/view/ViewerContent.h"

#include "core/services/ImageService.h"
#include "core/state/AppState.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cmath>

namespace orva::viewer {

namespace {

QString counter(qint64 n, qint64 of)
{
    return QString::asprintf("%lld / %lld", static_cast<long long>(n), static_cast<long long>(of));
}

} // namespace

StatusBarContent statusBarContent(const AppState &state)
{
    StatusBarContent c;
    for (FinderTag tag : allFinderTags)
        if (state.currentTags().contains(tagLabel(tag)))
            c.tags.append(tag);
    if (state.animationFrameCount() >= 2 && state.isAnimationPaused())
        c.frameCounter = counter(state.animationFrame() + 1, state.animationFrameCount());
    if (state.imageFiles().size() > 1)
        c.position = counter(state.currentIndex() + 1, state.imageFiles().size());
    // A failed or not yet decoded file has no zoom to show.
    if (!state.currentImage() || state.loadFailed())
        return c;
    // Truncated, not rounded: a fitted 1000-pixel image in 650 points reads 65%. The
    // epsilon keeps 0.57 x 100 = 56.999... from reading 56%.
    const double percent = std::trunc(state.magnification() * 100.0 + 1e-9);
    const long long zoom = std::isfinite(percent) ? static_cast<long long>(percent) : 0;
    c.zoom = QString::asprintf("%lld%%", zoom);
    return c;
}

QString failureReasonText(DecodeFailure reason)
{
    switch (reason) {
    case DecodeFailure::unreadable:
        return labelText("not an image Orva can read");
    case DecodeFailure::damaged:
        return labelText("the file is damaged");
    case DecodeFailure::tooLarge:
        return labelText("the file is too large to open");
    case DecodeFailure::permissionDenied:
        return labelText("permission denied");
    case DecodeFailure::missing:
        return labelText("the file no longer exists");
    case DecodeFailure::noImages:
        return labelText("no images Orva can read in this folder");
    }
    return labelText("not an image Orva can read");
}

QString failureCaption(const LoadFailure &failure)
{
    QString name = failure.url.fileName();
    if (name.isEmpty()) // a folder URL may end in a slash
        name = failure.url.adjusted(QUrl::StripTrailingSlash).fileName();
    return name + QStringLiteral(" \u2014 ") + failureReasonText(failure.reason);
}

bool messageTextIsDark(BackgroundStyle style)
{
    switch (style) {
    case BackgroundStyle::lightGray:
    case BackgroundStyle::white:
    case BackgroundStyle::checkerboard:
        return true;
    case BackgroundStyle::black:
    case BackgroundStyle::darkGray:
    case BackgroundStyle::blurred:
        return false;
    }
    return false;
}

OverlayMode nextOverlayMode(OverlayMode mode)
{
    switch (mode) {
    case OverlayMode::none:
        return OverlayMode::metadata;
    case OverlayMode::metadata:
        return OverlayMode::histogram;
    case OverlayMode::histogram:
        return OverlayMode::none;
    }
    return OverlayMode::none;
}

bool handleDigitKey(AppState &state, const QString &text)
{
    // An optional sign, then decimal digits only.
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok, 10);
    if (!ok || text.trimmed() != text)
        return false;
    if (n == 0) {
        state.removeColorTags();
        return true;
    }
    if (n >= 1 && n <= 7) {
        state.toggleTag(FinderTag(n));
        return true;
    }
    return false;
}

EscapeStep escapeStep(const AppState &state, bool keyWindowIsFullScreen)
{
    if (state.isSlideshowRunning())
        return EscapeStep::stopSlideshow;
    if (state.overlayMode() != OverlayMode::none)
        return EscapeStep::closeOverlay;
    if (keyWindowIsFullScreen)
        return EscapeStep::leaveFullScreen;
    return EscapeStep::closeWindow;
}

std::optional<QUrl> firstOpenableDrop(const QList<QUrl> &urls, const ImageService &images)
{
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (path.endsWith(QLatin1Char('/')))
            continue;
        const QFileInfo info(path);
        if (!images.supportedExtensions().contains(info.suffix().toLower()) || info.isDir())
            continue;
        return url;
    }
    return std::nullopt;
}

QString deleteConfirmationMessage(const QString &fileName, bool permanent)
{
    const QString quoted = QStringLiteral("\"") + fileName + QStringLiteral("\"");
    if (permanent)
        return quoted + QCoreApplication::translate(
                            "Orva", " will be deleted permanently. This volume has no Trash.");
    return QCoreApplication::translate("Orva", "Move ") + quoted +
           QCoreApplication::translate("Orva", " to the Trash?");
}

int renameSelectionLength(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return int(dot > 0 ? dot : fileName.size());
}

} // namespace orva::viewer
