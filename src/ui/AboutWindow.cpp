#include "ui/AboutWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace orva {

namespace {
QString tr(const char *text) { return QCoreApplication::translate("AboutWindow", text); }
} // namespace

trellis::AboutInfo orvaAboutInfo()
{
    trellis::AboutInfo info;
    info.appName = QStringLiteral("Orva");
    // Orva carries no separate build number.
    info.version = trellis::aboutVersionText(QCoreApplication::applicationVersion(), QVariant());
    info.description = tr("Orva shows your photos quickly and lets you step through the images "
                          "of a folder, zoom in, and look at their metadata.");
    info.website = trellis::AboutLink{QStringLiteral("orva.example.org"),
                                      QUrl(QStringLiteral("https://orva.example.org"))};
    info.support = trellis::AboutLink{tr("Support development"),
                                      QUrl(QStringLiteral("https://orva.example.org/support"))};
    info.copyright = trellis::AboutCopyright{QStringLiteral("© 2026 The Orva developers"),
                                             QUrl(QStringLiteral("https://orva.example.org"))};
    info.aboutTabLabel = tr("About");
    info.licensesTabLabel = QStringLiteral("Licenses");
    info.height = 460;
    return info;
}

QWidget *showAboutWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("about-orva")) {
            w->show();
            w->raise();
            w->activateWindow();
            return w;
        }
    auto *window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint |
                                            Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    window->setObjectName(QStringLiteral("about-orva"));
    window->setWindowTitle(tr("About Orva"));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new trellis::AboutView(orvaAboutInfo(), window));
    window->setFixedSize(window->sizeHint());
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace orva
