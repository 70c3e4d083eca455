#include "ui/ViewerCommands.h"

#include "core/model/FinderTag.h"
#include "core/settings/Settings.h"
#include "core/state/AppState.h"
#include "ui/AboutWindow.h"
#include "ui/FileActionDialogs.h"
#include "ui/SettingsWindow.h"

#include <QApplication>
#include <QMenuBar>

#include <cmath>

namespace orva {

namespace {

QAction *makeAction(QObject *parent, const QString &text, const QList<QKeySequence> &keys = {},
                    bool checkable = false)
{
    auto *a = new QAction(text, parent);
    a->setShortcuts(keys);
    a->setCheckable(checkable);
    return a;
}

// Shows a key the viewer answers itself next to a menu item, without making it a window
// shortcut: it only acts while the menu holding the item has the focus.
void showKey(QAction *action, const QKeySequence &key)
{
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetShortcut);
}

} // namespace

ViewerCommands::ViewerCommands(AppState &state, QWidget *window)
    : QObject(window), state_(state), window_(window)
{
    open_ = makeAction(this, labelText("Open..."), {QKeySequence(Qt::CTRL | Qt::Key_O)});
    connect(open_, &QAction::triggered, this, &ViewerCommands::openRequested);
    close_ = makeAction(this, labelText("Close Window"), {QKeySequence(Qt::CTRL | Qt::Key_W)});
    connect(close_, &QAction::triggered, window_, &QWidget::close);
    quit_ = makeAction(this, labelText("Quit"), {QKeySequence(Qt::CTRL | Qt::Key_Q)});
    quit_->setMenuRole(QAction::QuitRole);
    connect(quit_, &QAction::triggered, qApp, &QApplication::closeAllWindows);

    // A display-mode toggle re-applies its mode whether switched on or off, so choosing
    // the current mode again re-issues its zoom.
    auto modeToggle = [this](const char *text, Qt::Key key, DisplayMode mode) {
        QAction *a = makeAction(this, labelText(text), {QKeySequence(Qt::CTRL | key)}, true);
        connect(a, &QAction::triggered, this, [this, mode] {
            state_.applyDisplayMode(mode);
            refresh();
        });
        return a;
    };
    fit_ = modeToggle("Fit to Window", Qt::Key_1, DisplayMode::fitToWindow);
    actual_ = modeToggle("Actual Size", Qt::Key_0, DisplayMode::actualSize);
    autoSize_ = modeToggle("Auto-Size Window", Qt::Key_2, DisplayMode::autoSizeWindow);

    auto zoomButton = [this](const char *text, QList<QKeySequence> keys, ZoomAction action) {
        QAction *a = makeAction(this, labelText(text), keys);
        connect(a, &QAction::triggered, this, [this, action] {
            if (state_.zoomAction() != action)
                state_.setZoomAction(action);
        });
        return a;
    };
    // Ctrl+= on the key itself; Ctrl++ where the plus sign needs Shift.
    zoomIn_ = zoomButton(
        "Zoom In", {QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(QKeySequence::ZoomIn)},
        ZoomAction::zoomIn);
    zoomOut_ =
        zoomButton("Zoom Out", {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, ZoomAction::zoomOut);

    rotateClockwise_ =
        makeAction(this, labelText("Rotate Clockwise"), {QKeySequence(Qt::CTRL | Qt::Key_R)});
    connect(rotateClockwise_, &QAction::triggered, this, [this] { state_.rotate(+1); });
    rotateCounterClockwise_ = makeAction(this, labelText("Rotate Counter-Clockwise"),
                                         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)});
    connect(rotateCounterClockwise_, &QAction::triggered, this, [this] { state_.rotate(-1); });

    metadata_ = makeAction(this, labelText("Metadata"), {}, true);
    showKey(metadata_, QKeySequence(Qt::Key_Tab));
    connect(metadata_, &QAction::triggered, this, [this](bool on) {
        state_.setOverlayMode(on ? OverlayMode::metadata : OverlayMode::none);
    });
    histogram_ = makeAction(this, labelText("Histogram"), {}, true);
    showKey(histogram_, QKeySequence(Qt::Key_Tab)); // Tab cycles through both overlays
    connect(histogram_, &QAction::triggered, this, [this](bool on) {
        state_.setOverlayMode(on ? OverlayMode::histogram : OverlayMode::none);
    });

    thumbnails_ =
        makeAction(this, labelText("Thumbnails"), {QKeySequence(Qt::CTRL | Qt::Key_T)}, true);
    connect(thumbnails_, &QAction::triggered, this,
            [this](bool on) { state_.setShowThumbnailBar(on); });

    slideshow_ = makeAction(this, labelText("Start Slideshow"),
                            {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S)});
    // Decided by the state at the moment of the click, not by the label.
    connect(slideshow_, &QAction::triggered, this, [this] {
        if (state_.isSlideshowRunning())
            state_.stopSlideshow();
        else
            state_.startSlideshow();
    });

    animation_ = new QMenu(labelText("Animation"), window_);
    playPause_ = animation_->addAction(labelText("Pause Animation"));
    connect(playPause_, &QAction::triggered, this, [this] { state_.toggleAnimationPause(); });
    previousFrame_ = animation_->addAction(labelText("Previous Frame"));
    connect(previousFrame_, &QAction::triggered, this, [this] { state_.stepAnimationFrame(-1); });
    nextFrame_ = animation_->addAction(labelText("Next Frame"));
    connect(nextFrame_, &QAction::triggered, this, [this] { state_.stepAnimationFrame(+1); });

    tags_ = new QMenu(labelText("Tags"), window_);
    for (FinderTag tag : allFinderTags) {
        QAction *a = tags_->addAction(tagLabel(tag));
        a->setCheckable(true);
        showKey(a, QKeySequence(Qt::Key_0 + int(tag)));
        // Always toggles, whatever the check mark shows.
        connect(a, &QAction::triggered, this, [this, tag] {
            state_.toggleTag(tag);
            refresh();
        });
        tagToggles_ << a;
    }
    tags_->addSeparator();
    removeTags_ = tags_->addAction(labelText("Remove Color Tags"));
    showKey(removeTags_, QKeySequence(Qt::Key_0));
    connect(removeTags_, &QAction::triggered, this, [this] { state_.removeColorTags(); });

    // Application-wide settings, not the window's: every window rescans when they change.
    sort_ = new QMenu(labelText("Sort By"), window_);
    sortGroup_ = new QActionGroup(this);
    for (SortOrder order : allCases<SortOrder>()) {
        QAction *a = sort_->addAction(label(order));
        a->setCheckable(true);
        sortGroup_->addAction(a);
        connect(a, &QAction::triggered, this,
                [this, order] { state_.settings().setSortOrder(order); });
        sortOptions_ << a;
    }
    // One application-wide setting: every window repaints when it changes.
    background_ = new QMenu(labelText("Background"), window_);
    auto *backgroundGroup = new QActionGroup(this);
    for (BackgroundStyle style : allCases<BackgroundStyle>()) {
        QAction *a = background_->addAction(label(style));
        a->setCheckable(true);
        backgroundGroup->addAction(a);
        connect(a, &QAction::triggered, this,
                [this, style] { state_.settings().setBackgroundStyle(style); });
        backgroundOptions_ << a;
    }
    descending_ = makeAction(this, labelText("Descending Order"), {}, true);
    connect(descending_, &QAction::triggered, this,
            [this](bool on) { state_.settings().setSortDescending(on); });

    copyImage_ =
        makeAction(this, labelText("Copy Image"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)});
    connect(copyImage_, &QAction::triggered, this, [this] { state_.copyImage(); });
    reveal_ = makeAction(this, labelText("Reveal in Finder"));
    connect(reveal_, &QAction::triggered, this, [this] { state_.revealInFinder(); });
    rename_ = makeAction(this, labelText("Rename..."), {QKeySequence(Qt::Key_F2)});
    connect(rename_, &QAction::triggered, this, [this] { state_.beginRename(); });
    copyTo_ =
        makeAction(this, labelText("Copy To..."), {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_C)});
    connect(copyTo_, &QAction::triggered, this,
            [this] { chooseTransferFolder(window_, state_, false); });
    moveTo_ =
        makeAction(this, labelText("Move To..."), {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_M)});
    connect(moveTo_, &QAction::triggered, this,
            [this] { chooseTransferFolder(window_, state_, true); });
    openWith_ = new QMenu(labelText("Open With"), window_);
    connect(openWith_, &QMenu::aboutToShow, this, &ViewerCommands::rebuildOpenWithMenu);
    rebuildOpenWithMenu();
    // Ctrl+Backspace as on keyboards whose delete key erases backwards; Ctrl+Delete too.
    deleteImage_ = makeAction(
        this, labelText("Delete Image"),
        {QKeySequence(Qt::CTRL | Qt::Key_Backspace), QKeySequence(Qt::CTRL | Qt::Key_Delete)});
    connect(deleteImage_, &QAction::triggered, this, [this] { state_.requestDelete(); });
    desktopPicture_ = makeAction(this, labelText("Set as Desktop Picture"));
    connect(desktopPicture_, &QAction::triggered, this, [this] { state_.setAsDesktopPicture(); });
    settings_ =
        makeAction(this, labelText("Settings..."), {QKeySequence(Qt::CTRL | Qt::Key_Comma)});
    settings_->setMenuRole(QAction::PreferencesRole);
    connect(settings_, &QAction::triggered, this, [this] {
        SettingsWindow::showShared(state_.services().settings, state_.services().desktop);
    });
    about_ = makeAction(this, labelText("About Orva"));
    about_->setMenuRole(QAction::AboutRole);
    about_->setIcon(QIcon::fromTheme(QStringLiteral("help-about")));
    connect(about_, &QAction::triggered, this, [] { showAboutWindow(); });

    for (auto signal : {&AppState::currentURLChanged, &AppState::displayModeChanged,
                        &AppState::overlayModeChanged, &AppState::isSlideshowRunningChanged,
                        &AppState::imageFilesChanged, &AppState::animationFrameCountChanged,
                        &AppState::isAnimationPausedChanged, &AppState::currentTagsChanged,
                        &AppState::magnificationChanged, &AppState::showThumbnailBarChanged})
        connect(&state_, signal, this, &ViewerCommands::refresh);
    connect(&state_.services().settings, &SettingsStore::valueChanged, this,
            &ViewerCommands::refresh);
    for (QMenu *m : {animation_, tags_, sort_, background_})
        connect(m, &QMenu::aboutToShow, this, &ViewerCommands::refresh);
    refresh();
}

void ViewerCommands::refresh()
{
    // The ticks say how the image is shown now: zooming leaves every display mode.
    const DisplayMode mode = state_.displayMode();
    fit_->setChecked(mode == DisplayMode::fitToWindow && viewFitted_);
    actual_->setChecked(mode == DisplayMode::actualSize && !viewFitted_ &&
                        std::abs(state_.magnification() - 1.0) < 1e-9);
    autoSize_->setChecked(mode == DisplayMode::autoSizeWindow && viewFitted_);
    metadata_->setChecked(state_.overlayMode() == OverlayMode::metadata);
    histogram_->setChecked(state_.overlayMode() == OverlayMode::histogram);
    slideshow_->setText(state_.isSlideshowRunning() ? labelText("Stop Slideshow")
                                                    : labelText("Start Slideshow"));
    slideshow_->setEnabled(state_.imageFiles().size() >= 2 || state_.isSlideshowRunning());
    animation_->setEnabled(state_.animationFrameCount() >= 2);
    playPause_->setText(state_.isAnimationPaused() ? labelText("Play Animation")
                                                   : labelText("Pause Animation"));
    for (int i = 0; i < tagToggles_.size(); ++i)
        tagToggles_[i]->setChecked(state_.currentTags().contains(tagLabel(allFinderTags[i])));
    const Settings settings = state_.settings();
    const SortOrder order = settings.sortOrder();
    const auto orders = allCases<SortOrder>();
    for (int i = 0; i < sortOptions_.size(); ++i)
        sortOptions_[i]->setChecked(orders[i] == order);
    descending_->setChecked(settings.sortDescending());
    thumbnails_->setChecked(state_.showThumbnailBar());
    const auto styles = allCases<BackgroundStyle>();
    const BackgroundStyle style = settings.backgroundStyle();
    for (int i = 0; i < backgroundOptions_.size(); ++i)
        backgroundOptions_[i]->setChecked(styles[i] == style);
    const bool hasFile = state_.currentURL().has_value();
    for (QAction *a : {rename_, copyTo_, moveTo_, desktopPicture_})
        a->setEnabled(hasFile);
}

void ViewerCommands::rebuildOpenWithMenu()
{
    openWith_->clear();
    for (const OpenWithApp &app : state_.openWithApps()) {
        QIcon icon = QIcon::fromTheme(app.icon);
        if (icon.isNull() && app.icon.startsWith(QLatin1Char('/')))
            icon = QIcon(app.icon);
        QAction *a = openWith_->addAction(icon, app.name);
        connect(a, &QAction::triggered, this, [this, url = app.url] { state_.openWith(url); });
    }
    openWith_->addSeparator();
    connect(openWith_->addAction(labelText("Other...")), &QAction::triggered, this,
            [this] { chooseOtherApplication(window_, state_); });
}

void ViewerCommands::setViewFitted(bool fitted)
{
    viewFitted_ = fitted;
    refresh();
}

void ViewerCommands::populateMenuBar(QMenuBar *bar)
{
    QMenu *file = bar->addMenu(labelText("&File"));
    file->addAction(open_);
    file->addSeparator();
    file->addAction(settings_);
    file->addSeparator();
    file->addAction(close_);
    file->addAction(quit_);

    QMenu *edit = bar->addMenu(labelText("&Edit"));
    edit->addActions({copyImage_, reveal_});
    edit->addSeparator();
    edit->addActions({rename_, copyTo_, moveTo_});
    edit->addMenu(tags_);

    QMenu *image = bar->addMenu(labelText("&Image"));
    image->addActions({fit_, actual_, autoSize_});
    image->addSeparator();
    image->addActions({zoomIn_, zoomOut_});
    image->addSeparator();
    image->addActions({rotateClockwise_, rotateCounterClockwise_});
    image->addSeparator();
    image->addActions({metadata_, histogram_, thumbnails_});
    image->addSeparator();
    image->addAction(slideshow_);
    image->addMenu(animation_);
    image->addSeparator();
    image->addMenu(sort_);
    image->addAction(descending_);
    image->addMenu(background_);
    image->addSeparator();
    image->addMenu(openWith_);
    image->addAction(desktopPicture_);
    image->addSeparator();
    image->addAction(deleteImage_);

    QMenu *help = bar->addMenu(labelText("&Help"));
    help->addAction(about_);
}

void ViewerCommands::populateContextMenu(QMenu *menu)
{
    menu->addActions({copyImage_, reveal_, rename_, copyTo_, moveTo_});
    menu->addMenu(tags_);
    menu->addMenu(openWith_);
    menu->addAction(desktopPicture_);
    menu->addSeparator();
    menu->addActions({fit_, actual_, autoSize_});
    menu->addSeparator();
    menu->addActions({rotateClockwise_, rotateCounterClockwise_});
    menu->addSeparator();
    menu->addActions({metadata_, histogram_, thumbnails_});
    menu->addSeparator();
    menu->addMenu(background_);
    menu->addSeparator();
    menu->addAction(deleteImage_);
}

QList<QAction *> ViewerCommands::shortcutActions() const
{
    return {open_,   close_,   quit_,        fit_,       actual_,          autoSize_,
            zoomIn_, zoomOut_, thumbnails_,  slideshow_, copyImage_,       rename_,
            copyTo_, moveTo_,  deleteImage_, settings_,  rotateClockwise_, rotateCounterClockwise_};
}

} // namespace orva
