#include "ui/AppIcon.h"

#include <QDirIterator>

namespace orva {

QIcon appIcon()
{
    QIcon bundled;
    QDirIterator sizes(QStringLiteral(":/orva/icons"), {QStringLiteral("*.png")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (sizes.hasNext())
        bundled.addFile(sizes.next());
    return QIcon::fromTheme(QStringLiteral(ORVA_APP_ID), bundled);
}

} // namespace orva
