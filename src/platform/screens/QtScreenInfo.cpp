#include "platform/screens/QtScreenInfo.h"

#include <QGuiApplication>
#include <QScreen>

namespace orva {

QList<ScreenGeometry> QtScreenInfo::screens() const
{
    // Tools and tests may run with only a QCoreApplication, which has no screens.
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return {};
    QList<ScreenGeometry> result;
    const QList<QScreen *> screens = QGuiApplication::screens();
    result.reserve(screens.size());
    for (const QScreen *screen : screens)
        result.append(
            ScreenGeometry{QSizeF(screen->geometry().size()), screen->devicePixelRatio()});
    return result;
}

} // namespace orva
