#include "core/model/FinderTag.h"

#include "core/model/Enums.h"

namespace orva {

QString tagLabel(FinderTag tag)
{
    switch (tag) {
    case FinderTag::red:
        return labelText("Red");
    case FinderTag::orange:
        return labelText("Orange");
    case FinderTag::yellow:
        return labelText("Yellow");
    case FinderTag::green:
        return labelText("Green");
    case FinderTag::blue:
        return labelText("Blue");
    case FinderTag::purple:
        return labelText("Purple");
    case FinderTag::gray:
        return labelText("Gray");
    }
    return {};
}

} // namespace orva
