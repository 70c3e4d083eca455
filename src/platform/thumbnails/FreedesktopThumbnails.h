#pragma once

#include "core/services/ThumbnailStore.h"

#include <QString>

namespace orva {

// The desktop's shared thumbnail folder ($XDG_CACHE_HOME/thumbnails): file managers and
// viewers reuse each other's thumbnails. Entries are PNGs named by the MD5 of the file's
// URI, carrying the URI and modification time they were made from.
class FreedesktopThumbnails final : public ThumbnailStore {
public:
    // `root` is the thumbnails folder; by default the one under the user's cache folder.
    explicit FreedesktopThumbnails(QString root = {});

    int pixelSize() const override { return 128; }
    std::optional<QImage> load(const QUrl &file) const override;
    void save(const QUrl &file, const QImage &thumbnail, const QDateTime &modified) const override;
    void saveFailure(const QUrl &file, const QDateTime &modified) const override;
    void remove(const QUrl &file) const override;

    const QString &root() const { return root_; }
    // The URI other programs name the file by: file:// and the path's bytes, escaped.
    static QByteArray canonicalUri(const QString &localPath);
    // Where the entry of a file lives in one size folder ("normal", "large", "fail/orva").
    QString entryPath(const QString &localPath, const QString &folder) const;

private:
    bool covers(const QString &localPath) const;
    void write(const QString &localPath, const QString &folder, QImage image,
               const QDateTime &modified) const;

    QString root_;
};

} // namespace orva
