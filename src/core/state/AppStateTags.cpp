#include "core/services/TagStore.h"
#include "core/state/AppState.h"

#include <algorithm>

namespace orva {

void AppState::toggleTag(FinderTag tag)
{
    if (!currentURL_)
        return;
    QStringList tags = currentTags_;
    const QString name = tagLabel(tag);
    if (!tags.removeOne(name))
        tags.append(name);
    writeTags(tags);
}

void AppState::removeColorTags()
{
    if (!currentURL_)
        return;
    QStringList kept;
    for (const QString &t : currentTags_)
        if (std::none_of(allFinderTags.begin(), allFinderTags.end(),
                         [&t](FinderTag tag) { return tagLabel(tag) == t; }))
            kept.append(t);
    if (kept != currentTags_) // nothing to remove: no write that could only fail
        writeTags(kept);
}

void AppState::writeTags(const QStringList &tags)
{
    if (const std::optional<QString> error = services_.tags.writeTags(*currentURL_, tags)) {
        setErrorMessage(error);
        return;
    }
    // Show what the file system actually kept.
    setCurrentTags(services_.tags.readTags(*currentURL_));
}

} // namespace orva
