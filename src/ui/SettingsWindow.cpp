#include "ui/SettingsWindow.h"

#include "core/services/DesktopServices.h"
#include "core/settings/Settings.h"
#include "imageio/ImageFormats.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <array>

namespace orva {

namespace {

constexpr std::array slideshowIntervals{2, 3, 5, 10, 20};

QLabel *secondaryLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QIcon applicationIcon(const DesktopApplication &app)
{
    QIcon icon = QIcon::fromTheme(app.icon);
    if (icon.isNull() && app.icon.startsWith(QLatin1Char('/')))
        icon = QIcon(app.icon);
    return icon;
}

QString multiWindowCaptionText(bool multi)
{
    return multi ? SettingsWindow::tr("Every opened image gets a separate window.")
                 : SettingsWindow::tr("Opened images reuse the existing window.");
}

} // namespace

QString formatMimeType(const ImageFormat &format)
{
    if (format.extensions.isEmpty())
        return {};
    const QMimeType type = QMimeDatabase().mimeTypeForFile(
        QStringLiteral("x.") + format.extensions.front(), QMimeDatabase::MatchExtension);
    return type.isValid() && !type.isDefault() ? type.name() : QString();
}

SettingsWindow::SettingsWindow(SettingsStore &store, DesktopServices &desktop, QWidget *parent)
    : QWidget(parent, Qt::Window), store_(store), desktop_(desktop), tabs_(new QTabWidget(this))
{
    setWindowTitle(tr("Settings"));
    setFixedWidth(460);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabs_);
    tabs_->addTab(makeGeneralTab(), QIcon::fromTheme(QStringLiteral("preferences-system")),
                  tr("General"));
    tabs_->addTab(makeFileTypesTab(), QIcon::fromTheme(QStringLiteral("document-multiple")),
                  tr("File Types"));
    // Nothing is cached: showing the tab again asks the desktop again.
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 1)
            rebuildFileTypes();
    });
    connect(&store_, &SettingsStore::valueChanged, this, &SettingsWindow::readSettings);
    readSettings();
}

SettingsWindow *SettingsWindow::showShared(SettingsStore &store, DesktopServices &desktop)
{
    static QPointer<SettingsWindow> shared;
    if (!shared) {
        shared = new SettingsWindow(store, desktop);
        shared->setAttribute(Qt::WA_DeleteOnClose, false);
        shared->setAttribute(Qt::WA_QuitOnClose, false);
        shared->adjustSize();
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            shared->move(screen->availableGeometry().center() - shared->rect().center());
    }
    shared->show();
    shared->raise();
    shared->activateWindow();
    return shared;
}

QWidget *SettingsWindow::makeGeneralTab()
{
    auto *page = new QWidget;
    auto *form = new QFormLayout(page);
    form->setContentsMargins(20, 20, 20, 20);
    multiWindow_ = new QCheckBox(tr("Open each image in its own window"), page);
    caption_ = secondaryLabel(QString(), page);
    caption_->setWordWrap(true);
    form->addRow(multiWindow_);
    form->addRow(caption_);
    connect(multiWindow_, &QCheckBox::toggled, this, [this](bool on) {
        caption_->setText(multiWindowCaptionText(on));
        Settings(store_).setMultiWindowMode(on);
    });

    background_ = new QComboBox(page);
    for (BackgroundStyle style : allCases<BackgroundStyle>())
        background_->addItem(label(style), rawValue(style));
    form->addRow(tr("Background"), background_);
    connect(background_, &QComboBox::activated, this, [this](int index) {
        Settings(store_).setBackgroundStyle(allCases<BackgroundStyle>()[size_t(index)]);
    });

    interval_ = new QComboBox(page);
    for (int seconds : slideshowIntervals)
        interval_->addItem(tr("%1 s").arg(seconds), seconds);
    form->addRow(tr("Slideshow Interval"), interval_);
    connect(interval_, &QComboBox::activated, this, [this](int index) {
        Settings(store_).setSlideshowInterval(interval_->itemData(index).toDouble());
    });
    return page;
}

void SettingsWindow::readSettings()
{
    const Settings settings(store_);
    const bool multi = settings.isMultiWindowMode();
    {
        const QSignalBlocker block(multiWindow_);
        multiWindow_->setChecked(multi);
    }
    caption_->setText(multiWindowCaptionText(multi));
    background_->setCurrentIndex(background_->findData(rawValue(settings.backgroundStyle())));
    // A stored interval the picker does not offer selects nothing.
    interval_->setCurrentIndex(interval_->findData(int(settings.slideshowInterval())));
    if (settings.slideshowInterval() != double(int(settings.slideshowInterval())))
        interval_->setCurrentIndex(-1);
}

QWidget *SettingsWindow::makeFileTypesTab()
{
    auto *scroll = new QScrollArea;
    scroll->setFixedHeight(380);
    scroll->setWidgetResizable(true);
    rows_ = new QWidget;
    rowsLayout_ = new QVBoxLayout(rows_);
    scroll->setWidget(rows_);
    rebuildFileTypes();
    return scroll;
}

void SettingsWindow::rebuildFileTypes()
{
    // Keeps the list where it is: focus leaving a removed button would scroll to the next.
    if (rows_->isAncestorOf(QApplication::focusWidget()))
        tabs_->setFocus();
    // Later: the click that asked for the rebuild is still being delivered to a row.
    while (QLayoutItem *item = rowsLayout_->takeAt(0)) {
        if (QWidget *old = item->widget()) {
            old->hide();
            old->setParent(nullptr);
            old->deleteLater();
        }
        delete item;
    }
    for (const ImageFormat &format : ImageFormat::all())
        rowsLayout_->addWidget(makeRow(format, rows_));
    rowsLayout_->addStretch(1);
}

QWidget *SettingsWindow::makeRow(const ImageFormat &format, QWidget *parent)
{
    auto *row = new QWidget(parent);
    row->setObjectName(format.name);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(4, 2, 4, 2);

    auto *names = new QVBoxLayout;
    auto *name = new QLabel(format.name, row);
    name->setTextFormat(Qt::PlainText);
    names->addWidget(name);
    QStringList extensions;
    for (const QString &extension : format.extensions)
        extensions << QLatin1Char('.') + extension;
    auto *extensionText = secondaryLabel(extensions.join(QStringLiteral(", ")), row);
    QFont small = extensionText->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    extensionText->setFont(small);
    names->addWidget(extensionText);
    layout->addLayout(names, 1);

    const QString type = formatMimeType(format);
    const std::optional<DesktopApplication> app =
        type.isEmpty() ? std::nullopt : desktop_.defaultApplicationForType(type);
    if (app) {
        auto *icon = new QLabel(row);
        icon->setPixmap(applicationIcon(*app).pixmap(16, 16));
        icon->setFixedSize(16, 16);
        layout->addWidget(icon);
    }
    auto *appName = secondaryLabel(app ? app->name : tr("No default app"), row);
    appName->setObjectName(QStringLiteral("defaultApp"));
    layout->addWidget(appName);

    const bool isOrva = app && app->identifier == desktop_.ownApplicationIdentifier();
    if (isOrva) {
        auto *check = new QLabel(row);
        check->setObjectName(QStringLiteral("orvaIsDefault"));
        QIcon mark = QIcon::fromTheme(QStringLiteral("emblem-ok-symbolic"));
        if (mark.isNull())
            mark = style()->standardIcon(QStyle::SP_DialogApplyButton);
        check->setPixmap(mark.pixmap(16, 16));
        check->setAlignment(Qt::AlignCenter);
        check->setFixedWidth(90);
        check->setToolTip(tr("Orva opens these files"));
        layout->addWidget(check);
    } else {
        auto *button = new QPushButton(tr("Use Orva"), row);
        button->setObjectName(QStringLiteral("useOrva"));
        button->setFixedWidth(90);
        connect(button, &QPushButton::clicked, this, [this, format] { makeDefault(format); });
        layout->addWidget(button);
    }
    return row;
}

QWidget *SettingsWindow::fileTypeRow(const QString &formatName) const
{
    return rows_->findChild<QWidget *>(formatName, Qt::FindDirectChildrenOnly);
}

void SettingsWindow::makeDefault(const ImageFormat &format)
{
    const QString type = formatMimeType(format);
    if (!type.isEmpty())
        errorMessage_ = desktop_.makeOwnApplicationDefault(type);
    ++revision_;
    rebuildFileTypes();
    if (!errorMessage_)
        return;
    auto *alert =
        new QMessageBox(QMessageBox::Warning, tr("Error"), *errorMessage_, QMessageBox::Ok, this);
    alert->setTextFormat(Qt::PlainText);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::finished, this, [this] { errorMessage_.reset(); });
    alert->open();
}

} // namespace orva
