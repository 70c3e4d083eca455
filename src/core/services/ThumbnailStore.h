#pragma once

#include <QDateTime>
#include <QImage>
#include <QUrl>

#include <optional>

namespace orva {

// Thumbnails kept on disk and shared with other applications. Every call may run on any
// background thread; implementations hold no mutable state. Failures (an unreadable or
// unwritable folder, a foreign or corrupt entry) simply mean no entry.
class ThumbnailStore {
public:
    virtual ~ThumbnailStore() = default;
    // Longer side of the thumbnails this store keeps.
    virtual int pixelSize() const = 0;
    // The stored thumbnail when it was made from the file's present contents.
    virtual std::optional<QImage> load(const QUrl &file) const = 0;
    // Keeps `thumbnail`, made of the file as it was at `modified`; a failure entry goes.
    virtual void save(const QUrl &file, const QImage &thumbnail,
                      const QDateTime &modified) const = 0;
    // Records that no thumbnail could be made of the file as it was at `modified`.
    virtual void saveFailure(const QUrl &file, const QDateTime &modified) const = 0;
    // Forgets the file's entries (its contents changed or it went away).
    virtual void remove(const QUrl &file) const = 0;
};

} // namespace orva
