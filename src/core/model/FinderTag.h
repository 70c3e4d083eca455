#pragma once

#include <QString>

#include <array>

namespace orva {

// The seven colour tags, numbered as the digit keys that toggle them.
enum class FinderTag { red = 1, orange, yellow, green, blue, purple, gray };

inline constexpr std::array<FinderTag, 7> allFinderTags{
    FinderTag::red,  FinderTag::orange, FinderTag::yellow, FinderTag::green,
    FinderTag::blue, FinderTag::purple, FinderTag::gray};

// The tag's localised name, which is also the name stored on the file.
QString tagLabel(FinderTag tag);

} // namespace orva
