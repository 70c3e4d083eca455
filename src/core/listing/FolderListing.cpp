#include "core/listing/FolderListing.h"

#include "core/metadata/MetadataRows.h"
#include "core/runtime/TaskRuntime.h"
#include "core/services/ImageService.h"
#include "core/settings/Settings.h"

#include <QCollator>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace orva {

namespace {

struct Entry {
    QUrl url;
    QByteArray bytes; // the name as stored, the last tie-break
    QString name;     // for collation only: undecodable bytes read as U+FFFD here
    std::optional<QDateTime> modified;
};

std::optional<QDateTime> modificationDate(const struct stat &st)
{
    const qint64 ms = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return QDateTime::fromMSecsSinceEpoch(ms);
}

std::optional<QDateTime> modificationDate(const QByteArray &path)
{
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return std::nullopt;
    return modificationDate(st);
}

QByteArray lastComponent(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

Entry entryFor(const QUrl &url, bool dated)
{
    const QByteArray path = localPath(url);
    const QByteArray name = lastComponent(path);
    return {url, name, QFile::decodeName(name),
            dated ? modificationDate(path) : std::optional<QDateTime>()};
}

// "." and ".." resolved and repeated separators folded, on bytes; ".." above the root
// stays at the root, as the kernel does.
QByteArray cleanedPath(const QByteArray &absolute)
{
    QList<QByteArray> parts;
    for (const QByteArray &part : absolute.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.push_back(part);
    }
    QByteArray out;
    for (const QByteArray &part : parts)
        out += '/' + part;
    return out.isEmpty() ? QByteArray("/") : out;
}

QByteArray workingDirectory()
{
    char *cwd = ::getcwd(nullptr, 0);
    const QByteArray out = cwd ? QByteArray(cwd) : QFile::encodeName(QDir::currentPath());
    ::free(cwd);
    return out;
}

// Numeric collation is ignored under the C locale, which is what CI and many services run
// with; English keeps "img2" before "img10" there.
QCollator nameCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    collator.setIgnorePunctuation(false);
    return collator;
}

QList<QUrl> sortEntries(QList<Entry> entries, SortOrder order, bool descending,
                        const ImageService &images)
{
    const QCollator collator = nameCollator();
    // One collation key per file instead of a collation per comparison; code points break
    // the ties collation leaves (names differing only in case) so the order is total.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(entries.size()));
    for (const Entry &e : entries)
        keys.push_back(collator.sortKey(e.name));
    std::vector<qint64> dates(size_t(entries.size()), std::numeric_limits<qint64>::min());
    if (order != SortOrder::name) {
        for (qsizetype i = 0; i < entries.size(); ++i) {
            if (CancellationToken::current().isCancelled()) // a newer scan replaced this one
                return {};
            std::optional<QDateTime> d;
            if (order == SortOrder::dateTaken)
                d = dateTaken(entries[i].url, images);
            if (!d)
                d = entries[i].modified;
            if (d) // undated files keep the distant past
                dates[size_t(i)] = d->toMSecsSinceEpoch();
        }
    }
    std::vector<qsizetype> index(size_t(entries.size()));
    for (size_t i = 0; i < index.size(); ++i)
        index[i] = qsizetype(i);
    auto byName = [&](qsizetype a, qsizetype b) {
        const int c = keys[size_t(a)].compare(keys[size_t(b)]);
        if (c != 0)
            return c < 0;
        if (entries[a].name != entries[b].name)
            return entries[a].name < entries[b].name;
        return entries[a].bytes < entries[b].bytes;
    };
    std::stable_sort(index.begin(), index.end(), [&](qsizetype a, qsizetype b) {
        if (dates[size_t(a)] != dates[size_t(b)])
            return dates[size_t(a)] < dates[size_t(b)];
        return byName(a, b);
    });
    QList<QUrl> out;
    out.reserve(entries.size());
    for (qsizetype i : index)
        out.push_back(entries[i].url);
    if (descending)
        std::reverse(out.begin(), out.end());
    return out;
}

} // namespace

QByteArray localPath(const QUrl &url)
{
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

QUrl fileUrlFromLocalPath(const QByteArray &path)
{
    QUrl url;
    url.setScheme(QStringLiteral("file"));
    // Tolerant parsing keeps the escapes of bytes that are not UTF-8 as they are.
    url.setPath(QString::fromLatin1(path.toPercentEncoding("/")), QUrl::TolerantMode);
    return url;
}

QUrl childFileUrl(const QUrl &folder, const QByteArray &name)
{
    QByteArray path = localPath(folder);
    if (!path.endsWith('/'))
        path += '/';
    return fileUrlFromLocalPath(path + name);
}

QUrl standardizedFileUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return url;
    QByteArray path = localPath(url);
    if (!path.startsWith('/'))
        path = workingDirectory() + '/' + path;
    return fileUrlFromLocalPath(cleanedPath(path));
}

QUrl folderOf(const QUrl &file)
{
    const QByteArray path = localPath(standardizedFileUrl(file));
    const qsizetype slash = path.lastIndexOf('/');
    return fileUrlFromLocalPath(slash <= 0 ? QByteArray("/") : path.left(slash));
}

std::optional<FileIdentity> fileIdentity(const QUrl &file)
{
    struct stat st {};
    if (!file.isLocalFile() || ::stat(localPath(file).constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                        qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

SortOrder currentSortOrder(const Settings &settings) { return settings.sortOrder(); }

std::optional<QList<QUrl>> listImageFiles(const QUrl &folder, const std::optional<QUrl> &including,
                                          SortOrder order, bool descending,
                                          const ImageService &images)
{
    if (!folder.isLocalFile())
        return std::nullopt;
    const QUrl base = standardizedFileUrl(folder);
    const std::optional<QUrl> inc =
        including ? std::optional(standardizedFileUrl(*including)) : std::nullopt;
    const bool dated = order != SortOrder::name;
    struct CloseDir {
        void operator()(DIR *d) const { ::closedir(d); }
    };
    const std::unique_ptr<DIR, CloseDir> dir(::opendir(localPath(base).constData()));
    if (!dir) {
        // A folder with search but no read permission: the file the user opened is still
        // readable and stays, alone.
        struct stat st {};
        if (inc && ::stat(localPath(*inc).constData(), &st) == 0 && !S_ISDIR(st.st_mode))
            return QList<QUrl>{*inc};
        return std::nullopt;
    }
    const QSet<QString> &extensions = images.supportedExtensions();
    const CancellationToken token = CancellationToken::current();
    QList<Entry> entries;
    bool includingListed = false;
    // Names stay bytes: QDir drops names that are not valid UTF-8. The entry type comes
    // with the listing; links (photo collections made of links are common) and file
    // systems that give no type cost one stat.
    for (int n = 0;; ++n) {
        errno = 0;
        const dirent *e = ::readdir(dir.get());
        if (!e) {
            if (errno != 0)
                return std::nullopt;
            break;
        }
        if ((n & 1023) == 0 && token.isCancelled())
            return std::nullopt;
        const QByteArray name(e->d_name);
        if (name.startsWith('.')) // hidden, and "." and ".."
            continue;
        const qsizetype dot = name.lastIndexOf('.');
        if (dot < 0 || !extensions.contains(QString::fromUtf8(name.mid(dot + 1)).toLower()))
            continue;
        struct stat st {};
        const bool needStat = dated || e->d_type == DT_LNK || e->d_type == DT_UNKNOWN;
        if (needStat && ::fstatat(::dirfd(dir.get()), e->d_name, &st, 0) != 0)
            continue;
        if (needStat ? !S_ISREG(st.st_mode) : e->d_type != DT_REG)
            continue;
        Entry entry{childFileUrl(base, name), name, QFile::decodeName(name),
                    dated ? modificationDate(st) : std::nullopt};
        includingListed = includingListed || (inc && entry.url == *inc);
        entries.push_back(std::move(entry));
    }
    struct stat st {};
    if (inc && !includingListed && ::stat(localPath(*inc).constData(), &st) == 0)
        entries.push_back(entryFor(*inc, dated));
    return sortEntries(std::move(entries), order, descending, images);
}

QList<QUrl> sortImageFiles(const QList<QUrl> &files, SortOrder order, bool descending,
                           const ImageService &images)
{
    QList<Entry> entries;
    entries.reserve(files.size());
    for (const QUrl &url : files)
        entries.push_back(entryFor(url, order != SortOrder::name));
    return sortEntries(std::move(entries), order, descending, images);
}

} // namespace orva
