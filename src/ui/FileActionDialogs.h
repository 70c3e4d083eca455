#pragma once

class QWidget;

namespace orva {

class AppState;

// The dialogs of the file operations. Each is window-modal and acts, when confirmed, on
// the file that was shown when it opened, even if the viewer has moved on meanwhile.

// "Rename": a field labelled "Name" with the name selected up to its extension.
void openRenamePrompt(QWidget *parent, AppState &state);
// "Delete Image": worded for the trash or for permanent deletion.
void openDeleteConfirmation(QWidget *parent, AppState &state);
// A folder for "Copy To..." or "Move To...", starting in the last one chosen.
void chooseTransferFolder(QWidget *parent, AppState &state, bool move);
// A desktop entry for "Other..." in "Open With".
void chooseOtherApplication(QWidget *parent, AppState &state);

} // namespace orva
