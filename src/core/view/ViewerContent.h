#pragma once

#include "core/model/DecodedImage.h"
#include "core/model/Enums.h"
#include "core/model/FinderTag.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace orva {

class AppState;
class ImageService;
struct LoadFailure;

// What the viewer window shows and how it answers its own keys, apart from widgets.
namespace viewer {

// The status bar's items, left to right; an empty text is an item not shown.
struct StatusBarContent {
    QList<FinderTag> tags; // in tag order
    QString frameCounter;  // "3 / 12" while an animation is paused
    QString position;      // "2 / 20" when the folder has more than one image
    QString zoom;          // "65%"; empty while no image is shown

    bool operator==(const StatusBarContent &) const = default;
};
StatusBarContent statusBarContent(const AppState &state);

// The smaller line under "This image cannot be displayed": the file's name and the reason
// in a few words, e.g. "photo.jpg — the file is damaged".
QString failureCaption(const LoadFailure &failure);
QString failureReasonText(DecodeFailure reason);

// Messages are drawn dark on light backgrounds and light on dark ones.
bool messageTextIsDark(BackgroundStyle style);

// Tab: none -> metadata -> histogram -> none.
OverlayMode nextOverlayMode(OverlayMode mode);

// A digit key's text: 0 removes the colour tags, 1 to 7 toggle a tag. False when the
// text is no such number, so the key passes on.
bool handleDigitKey(AppState &state, const QString &text);

// What Escape does, first applicable.
enum class EscapeStep { stopSlideshow, closeOverlay, leaveFullScreen, closeWindow };
EscapeStep escapeStep(const AppState &state, bool keyWindowIsFullScreen);

// The first dropped file Orva can open: a local file (not a folder) with a supported
// extension.
std::optional<QUrl> firstOpenableDrop(const QList<QUrl> &urls, const ImageService &images);

// The delete confirmation's message for a file name: permanent deletion or the trash.
QString deleteConfirmationMessage(const QString &fileName, bool permanent);

// How much of a file name the rename prompt selects: up to the extension's dot, or all
// of it when there is no extension (".hidden" has none).
int renameSelectionLength(const QString &fileName);

} // namespace viewer
} // namespace orva
