#include "core/model/Enums.h"

#include <QCoreApplication>

namespace orva {

QString labelText(const char *english)
{
    if (!english || !*english)
        return {};
    return QCoreApplication::translate("Orva", english);
}

} // namespace orva
