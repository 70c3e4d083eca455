#pragma once

#include <QAction>
#include <QActionGroup>
#include <QList>
#include <QMenu>
#include <QObject>

class QMenuBar;

namespace orva {

class AppState;

// The command families of a viewer window, as actions shared by its menu bar and its
// context menu. Checks, labels and enabled states follow the window's state.
class ViewerCommands : public QObject {
    Q_OBJECT

public:
    ViewerCommands(AppState &state, QWidget *window);

    // File, Edit and Image menus.
    void populateMenuBar(QMenuBar *bar);
    // The context menu of a window showing a file (it is empty otherwise).
    void populateContextMenu(QMenu *menu);
    // Every action with a shortcut, so that the shortcuts work while the menu bar is
    // hidden (full screen).
    QList<QAction *> shortcutActions() const;

    QAction *open() const { return open_; }
    QAction *fitToWindow() const { return fit_; }
    QAction *actualSize() const { return actual_; }
    QAction *autoSizeWindow() const { return autoSize_; }
    QAction *zoomIn() const { return zoomIn_; }
    QAction *zoomOut() const { return zoomOut_; }
    QAction *rotateClockwise() const { return rotateClockwise_; }
    QAction *rotateCounterClockwise() const { return rotateCounterClockwise_; }
    QAction *metadata() const { return metadata_; }
    QAction *histogram() const { return histogram_; }
    QAction *thumbnails() const { return thumbnails_; }
    QMenu *backgroundMenu() const { return background_; }
    QAction *slideshow() const { return slideshow_; }
    QMenu *animationMenu() const { return animation_; }
    QAction *playPause() const { return playPause_; }
    QMenu *tagMenu() const { return tags_; }
    QAction *removeTags() const { return removeTags_; }
    QMenu *sortMenu() const { return sort_; }
    QAction *descending() const { return descending_; }
    QAction *copyImage() const { return copyImage_; }
    QAction *reveal() const { return reveal_; }
    QAction *rename() const { return rename_; }
    QAction *copyTo() const { return copyTo_; }
    QAction *moveTo() const { return moveTo_; }
    QMenu *openWithMenu() const { return openWith_; }
    QAction *deleteImage() const { return deleteImage_; }
    QAction *setDesktopPicture() const { return desktopPicture_; }
    QAction *settings() const { return settings_; }
    QAction *about() const { return about_; }

    // Brings checks, labels and enabled states up to date.
    void refresh();
    // Whether the image view shows the image fitted; a zoomed view ticks no display mode.
    void setViewFitted(bool fitted);

signals:
    void openRequested();

private:
    void rebuildOpenWithMenu();

    AppState &state_;
    QWidget *window_;
    QAction *open_, *close_, *quit_;
    QAction *fit_, *actual_, *autoSize_;
    QAction *zoomIn_, *zoomOut_;
    QAction *rotateClockwise_, *rotateCounterClockwise_;
    QAction *metadata_, *histogram_, *thumbnails_;
    QMenu *background_;
    QList<QAction *> backgroundOptions_;
    QAction *slideshow_;
    QMenu *animation_;
    QAction *playPause_, *previousFrame_, *nextFrame_;
    QMenu *tags_;
    QList<QAction *> tagToggles_;
    QAction *removeTags_;
    bool viewFitted_ = true;
    QMenu *sort_;
    QActionGroup *sortGroup_;
    QList<QAction *> sortOptions_;
    QAction *descending_;
    QAction *copyImage_, *reveal_;
    QAction *rename_, *copyTo_, *moveTo_;
    QMenu *openWith_;
    QAction *deleteImage_;
    QAction *desktopPicture_, *settings_, *about_;
};

} // namespace orva
