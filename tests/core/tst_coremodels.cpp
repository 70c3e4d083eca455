// The viewer's arithmetic and formatting without a viewer state: folder listing and sort
// orders, stored settings, metadata rows, zoom and gestures, the navigator, histogram
// counts, strip and background geometry, captions and window sizes.
#include "core/histogram/Histogram.h"
#include "core/listing/FolderListing.h"
#include "core/metadata/MetadataRows.h"
#include "core/settings/Settings.h"
#include "core/state/AppState.h"
#include "core/view/Navigator.h"
#include "core/view/ThumbnailStrip.h"
#include "core/view/ViewerContent.h"
#include "core/view/ZoomModel.h"
#include "imageio/ImageIOService.h"
#include "support/ImageFixtures.h"
#include "support/TestServices.h"

#include <QColorSpace>
#include <QScopeGuard>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <limits>
#include <numeric>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

QStringList names(const std::optional<QList<QUrl>> &urls)
{
    QStringList out;
    for (const QUrl &u : urls.value_or(QList<QUrl>()))
        out << u.fileName();
    return out;
}

bool touch(const QString &path, const QDateTime &modified = {})
{
    QFile f(path);
    // Flushed first: a buffered write at close would move the time again.
    return f.open(QIODevice::WriteOnly) && f.write("x") == 1 && f.flush() &&
           (!modified.isValid() || f.setFileTime(modified, QFileDevice::FileModificationTime));
}

// Permissions mean nothing to root, which CI may be: run the check as "nobody" then, in a
// child process (forked before any test of this file starts a thread).
bool withoutPrivileges(const std::function<bool()> &check)
{
    if (::geteuid() != 0)
        return check();
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && check() ? 0 : 1);
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

QImage filled(QSize size, const QColor &colour, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    image.fill(colour);
    return image;
}

// Histogram counts with the given bins set, every other bin zero (or all `rest`).
HistogramCounts bins(std::initializer_list<std::pair<int, quint32>> set, quint32 rest = 0)
{
    HistogramCounts c;
    c.fill(rest);
    for (const auto &[bin, n] : set)
        c[size_t(bin)] = n;
    return c;
}

const QLocale enUS(QLocale::English, QLocale::UnitedStates);
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

ImageProperties pngLike()
{
    ImageProperties p;
    p.pixelWidth = 4000;
    p.pixelHeight = 3000;
    p.orientation = 6;
    p.depth = 8;
    p.colorModel = u"RGB"_s;
    return p;
}

template <class F> ImageProperties exif(F set)
{
    ImageProperties p;
    set(p.exif.emplace());
    return p;
}

ImageProperties gps(std::optional<double> lat, std::optional<QString> latRef, double lon,
                    QString lonRef)
{
    ImageProperties p;
    p.gps = GpsProperties{lat, latRef, lon, lonRef};
    return p;
}

using Phase = zoom::SwipeRecognizer::Phase;

// One wheel event fed to a recognizer and what it must produce; nav -1: none, 0: back, 1: forward.
struct SwipeStep {
    zoom::SwipeRecognizer::Event event;
    bool consumed = false;
    int nav = -1;
};

SwipeStep step(double dx, double dy, Phase phase, bool consumed, int nav = -1)
{
    return {{dx, dy, true, phase}, consumed, nav};
}

// A phase-less precise event at `time` seconds, as some X11 touchpad drivers send.
SwipeStep bare(double time, double dx, double dy, bool consumed, int nav = -1)
{
    SwipeStep s = step(dx, dy, Phase::none, consumed, nav);
    s.event.time = time;
    return s;
}

SwipeStep momentum(double dx, bool consumed)
{
    return {{dx, 0, true, Phase::none, true}, consumed};
}

} // namespace

class TestCoreModels : public QObject {
    Q_OBJECT

    FakeImageService images;

private slots:
    // A folder that may be entered but not read (mode 711): the opened file is the list.
    void unlistableFolderKeepsTheOpenedFile()
    {
        QTemporaryDir outer;
        const QString inner = outer.filePath(u"album"_s);
        QVERIFY(QDir().mkdir(inner) && touch(inner + u"/a.jpg"_s) && touch(inner + u"/b.jpg"_s));
        QVERIFY(::chmod(QFile::encodeName(outer.path()).constData(), 0711) == 0);
        QVERIFY(::chmod(QFile::encodeName(inner).constData(), 0711) == 0);
        const QUrl album = QUrl::fromLocalFile(inner);
        const QUrl a = QUrl::fromLocalFile(inner + u"/a.jpg"_s);
        const QUrl gone = QUrl::fromLocalFile(inner + u"/gone.jpg"_s);
        QVERIFY(withoutPrivileges([&] {
            return listImageFiles(album, a, SortOrder::name, false, images) == QList<QUrl>{a} &&
                   listImageFiles(album, gone, SortOrder::name, false, images) == std::nullopt &&
                   listImageFiles(album, std::nullopt, SortOrder::dateModified, false, images) ==
                       std::nullopt;
        }));
        QVERIFY(::chmod(QFile::encodeName(inner).constData(), 0755) == 0);
    }

    // Visible regular files with an image extension in any case; a hidden file the user
    // opened joins at its name position, a vanished one is not added back.
    void filterKeepsVisibleRegularImages()
    {
        QTemporaryDir dir;
        for (const char *n : {"a.jpg", "B.png", "c.txt", ".hidden.jpg", "X.JPG", "y.Jpeg"})
            QVERIFY(touch(dir.filePath(QString::fromLatin1(n))));
        QVERIFY(QDir(dir.path()).mkdir(u"d.jpg"_s));
        const QUrl folder = QUrl::fromLocalFile(dir.path());
        const auto list = [&](const QString &opened) {
            return names(listImageFiles(folder, QUrl::fromLocalFile(dir.filePath(opened)),
                                        SortOrder::name, false, images));
        };
        const QStringList visible{u"a.jpg"_s, u"B.png"_s, u"X.JPG"_s, u"y.Jpeg"_s};
        QCOMPARE(names(listImageFiles(folder, std::nullopt, SortOrder::name, false, images)),
                 visible);
        QCOMPARE(list(u".hidden.jpg"_s), QStringList{u".hidden.jpg"_s} + visible);
        QCOMPARE(list(u"gone.jpg"_s), visible);
    }

    // Names are bytes: one that is not UTF-8 is listed, found again from its URL, and
    // keeps its place next to its neighbours; links to images count as images.
    void namesAndLinks()
    {
        QTemporaryDir local;
        const QUrl here = QUrl::fromLocalFile(local.path());
        const QByteArray base = QFile::encodeName(local.path()) + '/';
        // QTemporaryDir cannot see the odd name to remove it.
        const auto removeOdd = qScopeGuard([&] { ::unlink((base + "caf\xe9.jpg").constData()); });
        for (const char *name : {"caf\xe9.jpg", "a.jpg", "100% #1?.jpg"}) {
            const int fd = ::open((base + name).constData(), O_WRONLY | O_CREAT, 0644);
            QVERIFY(fd >= 0 && ::close(fd) == 0);
        }
        QVERIFY(::symlink("a.jpg", (base + "link.jpg").constData()) == 0);
        QVERIFY(::symlink("missing.jpg", (base + "dangling.jpg").constData()) == 0);
        QVERIFY(QDir().mkdir(local.filePath(u"sub"_s)));
        QVERIFY(::symlink("sub", (base + "dir.jpg").constData()) == 0);
        for (const SortOrder order : {SortOrder::name, SortOrder::dateModified}) {
            const auto list = listImageFiles(here, std::nullopt, order, false, images);
            QVERIFY(list);
            QStringList bytes;
            for (const QUrl &u : *list) {
                QVERIFY(fileIdentity(u)); // every entry is reachable through its URL
                bytes << QString::fromLatin1(localPath(u).mid(base.size()));
            }
            bytes.sort();
            QCOMPARE(bytes, (QStringList{u"100% #1?.jpg"_s, u"a.jpg"_s,
                                         QString::fromLatin1("caf\xe9.jpg"), u"link.jpg"_s}));
        }
        const QUrl odd = fileUrlFromLocalPath(base + "caf\xe9.jpg");
        QCOMPARE(localPath(standardizedFileUrl(odd)), base + "caf\xe9.jpg");
        QCOMPARE(folderOf(odd), here);
        // Opening the odd file keeps it once, whatever form its URL came in.
        const QUrl reparsed = QUrl::fromEncoded(odd.toEncoded());
        QCOMPARE(listImageFiles(here, reparsed, SortOrder::name, false, images)->count(odd), 1);
    }

    // The order a file browser shows, also under the C locale that CI runs with.
    void naturalNameOrder()
    {
        const QLocale previous;
        const auto restore = qScopeGuard([&] { QLocale::setDefault(previous); });
        QList<QUrl> urls;
        for (const char *f : {"img100.jpg", "img9.jpg", "IMG10.jpg", "b.jpg", "A.jpg"})
            urls << QUrl::fromLocalFile(u"/p/"_s + QLatin1String(f));
        QStringList expected{u"A.jpg"_s, u"b.jpg"_s, u"img9.jpg"_s, u"IMG10.jpg"_s,
                             u"img100.jpg"_s};
        for (const QLocale &locale : {previous, QLocale::c()}) {
            QLocale::setDefault(locale);
            QCOMPARE(names(sortImageFiles(urls, SortOrder::name, false, images)), expected);
            std::reverse(expected.begin(), expected.end());
            QCOMPARE(names(sortImageFiles(urls, SortOrder::name, true, images)), expected);
            std::reverse(expected.begin(), expected.end());
        }
    }

    // Capture date first, modification date when there is none; equal dates by name; the
    // descending list is the ascending one reversed whole.
    void dateOrders()
    {
        QTemporaryDir dir;
        const QDateTime base(QDate(2024, 6, 1), QTime(12, 0));
        // a and b taken on day 1 (a tie), d on day 2 but modified before them; c has no Exif
        // and was modified on day -3.
        for (const auto &[name, modified] : {std::pair{"b.jpg", 5}, std::pair{"a.jpg", 5},
                                             std::pair{"c.jpg", -3}, std::pair{"d.jpg", 2}})
            QVERIFY(touch(dir.filePath(QString::fromLatin1(name)), base.addDays(modified)));
        FakeImageService dated;
        dated.dateTimeOriginal = {{u"a.jpg"_s, u"2024:06:02 12:00:00"_s},
                                  {u"b.jpg"_s, u"2024:06:02 12:00:00"_s},
                                  {u"d.jpg"_s, u"2024:06:03 12:00:00"_s}};
        const QUrl folder = QUrl::fromLocalFile(dir.path());
        const QStringList ascending{u"c.jpg"_s, u"a.jpg"_s, u"b.jpg"_s, u"d.jpg"_s};
        QCOMPARE(names(listImageFiles(folder, {}, SortOrder::dateTaken, false, dated)), ascending);
        QCOMPARE(names(listImageFiles(folder, {}, SortOrder::dateTaken, true, dated)),
                 (QStringList{u"d.jpg"_s, u"b.jpg"_s, u"a.jpg"_s, u"c.jpg"_s}));
        QCOMPARE(names(listImageFiles(folder, {}, SortOrder::dateModified, false, dated)),
                 (QStringList{u"c.jpg"_s, u"d.jpg"_s, u"a.jpg"_s, u"b.jpg"_s}));
    }

    // A store hands back whatever was written, possibly as text (INI) or by another
    // version of the program; only values of the right shape count, and reading never
    // writes.
    void storedSettings()
    {
        const auto read = [](const char *key, const QVariant &stored, auto getter) {
            MemorySettingsStore store;
            if (stored.isValid())
                store.values.insert(QString::fromLatin1(key), stored);
            const auto value = getter(Settings(store));
            return store.writes == 0 ? std::optional(value) : std::nullopt;
        };
        // "banana" was written, so it is not the default; a zero interval would spin. -1: not
        // read as that setting.
        for (const auto &[stored, multi, interval] :
             {std::tuple{QVariant(), 1, -1.0}, std::tuple{QVariant(false), 0, -1.0},
              std::tuple{QVariant(u"false"_s), 0, -1.0}, std::tuple{QVariant(u" YES "_s), 1, -1.0},
              std::tuple{QVariant(0), 0, 5.0}, std::tuple{QVariant(u"banana"_s), 0, -1.0},
              std::tuple{QVariant(2), -1, 2.0}, std::tuple{QVariant(u"20"_s), -1, 20.0},
              std::tuple{QVariant(qQNaN()), -1, 5.0}, std::tuple{QVariant(u"soon"_s), -1, 5.0}}) {
            if (multi >= 0)
                QCOMPARE(read("multiWindowMode", stored,
                              [](const Settings &s) { return s.isMultiWindowMode(); }),
                         std::optional(multi == 1));
            if (interval >= 0)
                QCOMPARE(read("slideshowInterval", stored,
                              [](const Settings &s) { return s.slideshowInterval(); }),
                         std::optional(interval));
        }
        QCOMPARE(read("sortOrder", u"size"_s, [](const Settings &s) { return s.sortOrder(); }),
                 SortOrder::name);
        QCOMPARE(read("backgroundStyle", u"Black"_s, // case matters
                      [](const Settings &s) { return s.backgroundStyle(); }),
                 BackgroundStyle::black);
        QCOMPARE(read("displayMode", 3, [](const Settings &s) { return s.storedDisplayMode(); }),
                 std::optional<std::optional<DisplayMode>>(std::nullopt));
        QCOMPARE(read("showThumbnailBar", u"sometimes"_s,
                      [](const Settings &s) { return s.showThumbnailBar(); }),
                 false);
    }

    void savedWindowSize()
    {
        for (const auto &[width, height, expected] :
             {std::tuple{QVariant(99), QVariant(800), QSizeF()}, // too narrow
              std::tuple{QVariant(100), QVariant(100), QSizeF(100, 100)},
              std::tuple{QVariant(640.5), QVariant(480.0), QSizeF(640.5, 480)},
              std::tuple{QVariant(u"1024"_s), QVariant(u"768"_s), QSizeF(1024, 768)},
              std::tuple{QVariant(u"wide"_s), QVariant(600), QSizeF()},
              std::tuple{QVariant(qInf()), QVariant(600), QSizeF()}}) {
            MemorySettingsStore store;
            store.values.insert(u"lastWindowWidth"_s, width);
            store.values.insert(u"lastWindowHeight"_s, height);
            const auto size = Settings(store).savedWindowSize();
            QCOMPARE(size.value_or(QSizeF()), expected);
        }
    }

    void metadataRowsFollowWhatTheFileHas()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"a.jpg"_s), QByteArray(2048, 'x')));
        const QUrl url = QUrl::fromLocalFile(dir.filePath(u"a.jpg"_s));
        const QStringList all{u"File Size"_s, u"Dimensions"_s, u"Bit Depth"_s, u"Color Model"_s,
                              u"Camera"_s,    u"Model"_s,      u"Date"_s,      u"Focal Length"_s,
                              u"Aperture"_s,  u"Shutter"_s,    u"ISO"_s,       u"Lens"_s};
        ImageProperties p = pngLike();
        p.tiff = TiffProperties{u"Canon"_s, u"EOS R5"_s};
        p.exif = ExifCaptureProperties{
            u"2024:06:03 16:05:00"_s, 50.0, 1.8, 0.004, QList{200}, u"RF 50mm"_s};
        const auto labels = [&url](const FakeImageService &images) {
            QStringList out;
            for (const auto &r : readMetadataEntries(url, images))
                out << r.label;
            return out;
        };
        FakeImageService images;
        images.properties = p;
        QCOMPARE(labels(images), all);
        QCOMPARE(readMetadataEntries(url, images).first().value, formatFileSize(2048, QLocale()));
        p.gps = gps(1, u"N"_s, 2, u"E"_s).gps;
        images.properties = p;
        QCOMPARE(labels(images), all + QStringList{u"GPS"_s});
        images.properties = pngLike();
        QCOMPARE(labels(images), all.first(4));
        QVERIFY(!dateTaken(url, images));
        images.properties.emplace();
        QCOMPARE(labels(images), all.first(1));
        QVERIFY(
            readMetadataEntries(QUrl::fromLocalFile(dir.filePath(u"gone"_s)), images).isEmpty());
    }

    void metadataValues()
    {
        // The row's value, or no row at all when `value` is null.
        const auto row = [](const char *name, const ImageProperties &p, const char *label,
                            const char *value = nullptr) {
            QString shown;
            for (const MetadataEntry &r : formatMetadataEntries(std::nullopt, p, enUS))
                if (r.label == QString::fromUtf8(label))
                    shown = r.value;
            QVERIFY2(shown == QString::fromUtf8(value), name);
        };
        ImageProperties noWidth = pngLike();
        noWidth.pixelWidth = 0;
        // 0.3 s rounds down; no row for nothing, negative, NaN, infinite or subnormal times.
        for (const auto &[t, text] :
             {std::pair{0.004, "1/250s"}, std::pair{0.3, "1/3s"}, std::pair{1.0, "1.0s"},
              std::pair{2.5, "2.5s"}, std::pair{0.0, (const char *)nullptr},
              std::pair{-1.0, (const char *)nullptr}, std::pair{notANumber, (const char *)nullptr},
              std::pair{qInf(), (const char *)nullptr}, std::pair{5e-324, (const char *)nullptr}})
            row(qPrintable(QString::number(t)), exif([t](auto &e) { e.exposureTime = t; }),
                "Shutter", text);
        row("focal 4.25", exif([](auto &e) { e.focalLength = 4.25; }), "Focal Length", "4mm");
        row("focal NaN", exif([](auto &e) { e.focalLength = notANumber; }), "Focal Length");
        row("aperture", exif([](auto &e) { e.fNumber = 1.8; }), "Aperture", "f/1.8");
        row("ISO empty", exif([](auto &e) { e.isoSpeedRatings = QList<int>{}; }), "ISO");
        row("ISO two", exif([](auto &e) { e.isoSpeedRatings = QList{400, 800}; }), "ISO", "400");
        row("date unparseable", exif([](auto &e) { e.dateTimeOriginal = u"2024-06-03 16:05"_s; }),
            "Date", "2024-06-03 16:05");
        row("dimensions as stored", pngLike(), "Dimensions", "4000 \u00D7 3000");
        row("dimensions zero", noWidth, "Dimensions");
        row("bit depth", pngLike(), "Bit Depth", "8 bits");
        row("GPS Sydney", gps(33.8688, u"S"_s, 151.2093, u"E"_s), "GPS", "-33.868800, 151.209300");
        row("GPS west", gps(40.5, u"N"_s, 74.25, u"W"_s), "GPS", "40.500000, -74.250000");
        row("GPS ref not exact", gps(1, u"s"_s, 2, u"w "_s), "GPS", "1.000000, 2.000000");
        row("GPS no lat ref", gps(1, {}, 2, u"E"_s), "GPS");
        row("GPS no latitude", gps({}, u"N"_s, 2, u"E"_s), "GPS");
        row("GPS NaN", gps(notANumber, u"N"_s, 2, u"E"_s), "GPS");
    }

    // Each unit ends where its rounded value would reach 1000: the next unit takes over.
    void fileSize()
    {
        using C = std::tuple<qint64, const char16_t *, QLocale>;
        for (const auto &[bytes, text, locale] :
             {C{0, u"0 bytes", enUS}, C{1, u"1 byte", enUS}, C{999, u"999 bytes", enUS},
              C{1000, u"1 kB", enUS}, C{1500, u"2 kB", enUS}, C{999'500, u"1 MB", enUS},
              C{1'050'000, u"1.1 MB", enUS}, C{999'950'000, u"1 GB", enUS},
              C{1'234'567'890, u"1.23 GB", enUS}, C{999'994'999'999, u"999.99 GB", enUS},
              C{999'995'000'000, u"1 TB", enUS}, C{999'995'000'000'000'000, u"1 EB", enUS},
              C{std::numeric_limits<qint64>::max(), u"9.22 EB", enUS},
              C{2'400'000, u"2,4 MB", QLocale(QLocale::German, QLocale::Germany)},
              C{999'999, u"1 MB", QLocale::c()}})
            QCOMPARE(formatFileSize(bytes, locale), QString::fromUtf16(text));
    }

    // Only well-formed, real dates count; a time the zone skips (a camera clock not yet
    // moved forward) keeps the photo's date, just past the gap.
    void exifDates()
    {
        for (const auto &[text, date] :
             {std::pair{"2024:06:03 16:05:00", QDate(2024, 6, 3)},
              std::pair{"2024:10:06 02:30:00", QDate(2024, 10, 6)},
              std::pair{"2024:13:01 00:00:00", QDate()}, std::pair{"0000:00:00 00:00:00", QDate()},
              std::pair{"2024:06:03 16:05:00Z", QDate()}, std::pair{"2024:6:3 16:05:00", QDate()},
              std::pair{"2024:02:30 10:00:00", QDate()},
              std::pair{"2024:06:03 24:00:00", QDate()}}) {
            const auto parsed = parseExifDate(QString::fromLatin1(text));
            QCOMPARE(parsed ? parsed->date() : QDate(), date);
            FakeImageService images;
            images.properties =
                exif([&](auto &e) { e.dateTimeOriginal = QString::fromLatin1(text); });
            QCOMPARE(dateTaken(QUrl(), images), parsed);
        }
        const QByteArray oldTz = qgetenv("TZ");
        const bool hadTz = qEnvironmentVariableIsSet("TZ");
        qputenv("TZ", "Australia/Sydney");
        tzset();
        const auto parsed = parseExifDate(u"2024:10:06 02:30:00"_s);
        // Local times convert lazily, so read the instant before the zone changes back.
        const QDateTime utc = parsed ? parsed->toUTC() : QDateTime();
        hadTz ? qputenv("TZ", oldTz) : qunsetenv("TZ");
        tzset();
        QCOMPARE(utc, QDateTime(QDate(2024, 10, 5), QTime(16, 30), Qt::UTC));
    }

    void zoomRequestsAndWheel()
    {
        using R = zoom::ZoomRequest;
        for (const auto &[request, current, minimum, magnification, fit, anchored] :
             {std::tuple{R::fit, 1.8, 0.8, 0.8, true, false},
              std::tuple{R::zoomIn, 15.0, 0.8, 20.0, false, true},
              std::tuple{R::zoomOut, 1.8, 0.8, 1.2, false, true},
              std::tuple{R::actualSize, 3.0, 1.0, 1.0, false, true},
              std::tuple{R::actualSize, 3.0, 1.5, 1.5, false, true}}) {
            const zoom::RequestResult r = zoom::applyZoomRequest(request, current, minimum);
            QCOMPARE(r.magnification, magnification);
            QCOMPARE(std::pair(r.fitMode, r.anchored), std::pair(fit, anchored));
        }
        // Magnification after a wheel event (-1: no change), at a minimum of 0.8.
        for (const auto &[current, dy, precise, expected, fit] :
             {std::tuple{1.0, 1.0, false, 1.1, false},  // one notch
              std::tuple{1.0, 10.0, true, 1.05, false}, // ten trackpad points
              std::tuple{1.0, 0.0, false, -1.0, false}, std::tuple{1.0, 0.2, true, -1.0, false},
              std::tuple{0.85, -1.0, false, 0.8, true}, // out past the minimum
              std::tuple{2.0, -20.0, false, 0.8, true},
              std::tuple{20.0, 1.0, false, -1.0, false}}) {
            const auto z = zoom::wheelZoom(current, dy, precise, 0.8);
            QCOMPARE(z ? z->magnification : -1.0, expected);
            QCOMPARE(z && z->fitMode, fit);
        }
    }

    void zoomGeometry()
    {
        using namespace zoom;
        QCOMPARE(fitMagnification({500, 1200}, {800, 600}).value_or(-1), 0.5);
        QCOMPARE(fitMagnification({300, 200}, {800, 600}).value_or(-1), 1.0); // never enlarges
        QVERIFY(!fitMagnification({0, 200}, {800, 600}) &&
                !fitMagnification({300, 200}, {800, -1}));
        QVERIFY(!visibleFraction({0, 0}, {0, 0, 10, 10}));
        // Centred on the axes where the document is smaller than the clip.
        QCOMPARE(centredClip({0, 0, 800, 600}, {400, 300}), QRectF(-200, -150, 800, 600));
        QCOMPARE(centredClip({0, 120, 800, 600}, {400, 900}), QRectF(-200, 120, 800, 600));
        QCOMPARE(centredClip({50, 120, 800, 600}, {1000, 900}), QRectF(50, 120, 800, 600));
        // Bands of rows for huge images: bytes per row, height, rows per band, bands,
        // the band asked for, its first row and row count.
        using Band = std::tuple<qint64, qint64, qint64, int, int, qint64, qint64>;
        for (const auto &[bytesPerRow, height, rows, count, index, first, rowCount] :
             std::initializer_list<Band>{{40000, 10000, 1677, 6, 0, 0, 1679},
                                         {40000, 10000, 1677, 6, 5, 8385, 1615},
                                         {70000000, 10, 1, 10, 8, 8, 2},
                                         {67108864, 3, 1, 3, 2, 2, 1},
                                         {0, 100, 67108864, 1, 0, 0, 100}, // unknown row size
                                         {40000, 0, 1677, 0, 0, 0, 0}}) {
            QCOMPARE(rowsPerTile(bytesPerRow), rows);
            QCOMPARE(tileCount(height, bytesPerRow), count);
            const auto band = tileRows(index, height, bytesPerRow);
            QCOMPARE(std::pair(band.first, band.count), std::pair(first, rowCount));
        }
    }

    // The plain distance, direction and fit-mode cases run through the view's test.
    void swipes()
    {
        SwipeStep wheel = step(60, 0, Phase::none, false);
        wheel.event.precise = false;
        const std::pair<const char *, QList<SwipeStep>> rows[]{
            {"vertical first",
             {step(1, 5, Phase::began, false), step(60, 70, Phase::changed, false)}},
            {"turns vertical",
             {step(10, 0, Phase::began, true), step(1, 10, Phase::changed, true),
              step(45, 50, Phase::changed, true, 1)}},
            {"mouse wheel", {wheel, wheel}},
            {"momentum",
             {step(60, 0, Phase::began, true, 1), momentum(100, true), momentum(0, false),
              step(0, 0, Phase::ended, true)}},
            {"momentum alone", {momentum(100, true), momentum(100, true)}},
            // Without phases a pause ends the gesture: the second swipe navigates again and a
            // later vertical movement zooms instead of being swallowed.
            {"no phases, two swipes",
             {bare(0.0, 30, 0, true), bare(0.02, 30, 0, true, 1), bare(0.04, 30, 0, true),
              bare(0.5, -30, 0, true), bare(0.52, -30, 0, true, 0), bare(0.54, -30, 0, true)}},
            {"no phases, then vertical",
             {bare(0.0, 60, 0, true, 1), bare(0.02, 0, 10, true), bare(1.0, 0, 10, false)}},
            {"no phases, no pause",
             {bare(0.0, 60, 0, true, 1), bare(0.2, 60, 0, true), bare(0.4, 60, 0, true)}}};
        for (const auto &[name, steps] : rows) {
            zoom::SwipeRecognizer r;
            for (int i = 0; i < steps.size(); ++i) {
                const auto out = r.handle(steps[i].event, true);
                QVERIFY2(out.consumed == steps[i].consumed &&
                             out.navigateForward.has_value() == (steps[i].nav >= 0) &&
                             out.navigateForward.value_or(false) == (steps[i].nav == 1),
                         qPrintable(u"%1, step %2"_s.arg(QLatin1StringView(name)).arg(i)));
            }
        }
    }

    // A press becomes a drag only past a few points, and then keeps the held-back travel.
    void pressTracker()
    {
        zoom::PressTracker t;
        QVERIFY(!t.move({100, 100}) && !t.release()); // no press yet
        t.press({10, 10});
        QVERIFY(!t.move({13, 7}));
        QCOMPARE(t.release()->wasClick, true);
        QVERIFY(!t.move({100, 100}));
        t.press({10, 10});
        QVERIFY(!t.move({12, 10}));
        QCOMPARE(t.move({14, 10}), QPointF(4, 0));
        QCOMPARE(t.move({15, 12}), QPointF(1, 2));
        QCOMPARE(t.move({10, 10}), QPointF(-5, -2)); // back near the press point: still a drag
        QCOMPARE(t.release()->wasClick, false);
    }

    // Visible rectangles have their origin at the image's bottom-left; the map's frames are
    // top-down. A press off the map is held at its edge. Shown below 0.99 of the image.
    void navigatorGeometry()
    {
        const QSizeF map(150, 100);
        QCOMPARE(navigator::visibleFrame(map, QRectF(0, 0, 0.5, 0.5)), QRectF(0, 50, 75, 50));
        QCOMPARE(navigator::visibleFrame(map, QRectF(0.5, 0.5, 0.5, 0.5)), QRectF(75, 0, 75, 50));
        QCOMPARE(navigator::visibleFrame(map, QRectF(0, 0.3, 1, 0.4)), QRectF(0, 30, 150, 40));
        QCOMPARE(navigator::scrollTargetAt(QPointF(75, 0), map), QPointF(0.5, 1));
        QCOMPARE(navigator::scrollTargetAt(QPointF(-40, 25), map), QPointF(0, 0.75));
        QCOMPARE(navigator::scrollTargetAt(QPointF(30, 180), map), QPointF(0.2, 0));
        QCOMPARE(navigator::scrollTargetAt(QPointF(400, -60), map), QPointF(1, 1));
        QVERIFY(!navigator::isShown(true, QRectF(0, 0, 0.99, 1), false));
        QVERIFY(navigator::isShown(true, QRectF(0, 0, 0.989, 1), false));
        QVERIFY(navigator::isShown(true, QRectF(0, 0, 1, 0.989), false));
        QVERIFY(navigator::isShown(true, QRectF(0, 0, 1, 1), true));
        QVERIFY(!navigator::isShown(false, QRectF(0, 0, 0.2, 0.2), true));
    }

    void histogramBinning()
    {
        std::vector<std::pair<QImage, HistogramData>> rows;
        QImage ramp(256, 4, QImage::Format_Grayscale8);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 256; ++x)
                ramp.scanLine(y)[x] = uchar(x);
        rows.push_back({ramp, {bins({}, 4), bins({}, 4), bins({}, 4)}});
        // 16-bit: every 8-bit level once per row, falling in green, constant in blue.
        QImage deep(256, 2, QImage::Format_RGBX64);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 256; ++x)
                deep.setPixelColor(x, y, QColor::fromRgba64(x * 257, (255 - x) * 257, 128 * 257));
        rows.push_back({deep, {bins({}, 2), bins({}, 2), bins({{128, 512}})}});
        // Transparency counts as drawn over black: a clear pixel is black whatever its
        // colour, half-covered full blue is 128.
        QImage alpha(4, 1, QImage::Format_ARGB32);
        alpha.setPixel(0, 0, qRgba(255, 255, 255, 0));
        alpha.setPixel(1, 0, qRgba(0, 255, 0, 255));
        alpha.setPixel(2, 0, qRgba(0, 0, 255, 128));
        alpha.setPixel(3, 0, qRgba(255, 255, 255, 255));
        rows.push_back({alpha,
                        {bins({{0, 3}, {255, 1}}), bins({{0, 2}, {255, 2}}),
                         bins({{0, 2}, {128, 1}, {255, 1}})}});
        // Linear light is converted to sRGB before it is reduced to 8 bits: linear 0.2159 is
        // sRGB 128 (it would count at 55 unconverted).
        QImage linear =
            filled({5, 1}, QColor::fromRgba64(14146, 14146, 14146), QImage::Format_RGBX64);
        linear.setColorSpace(QColorSpace(QColorSpace::SRgbLinear));
        rows.push_back({linear, {bins({{128, 5}}), bins({{128, 5}}), bins({{128, 5}})}});
        for (size_t i = 0; i < rows.size(); ++i) {
            const std::optional<HistogramData> data = histogramOf(rows[i].first);
            QVERIFY2(data && *data == rows[i].second, qPrintable(QString::number(i)));
        }
        QVERIFY(!histogramOf(QImage()));
    }

    void histogramComesFromABoundedThumbnail()
    {
        // A real 2048 x 1024 file is counted on 512 x 256 pixels.
        QTemporaryDir dir;
        const QString path = dir.filePath(u"wide.png"_s);
        QVERIFY(filled({2048, 1024}, Qt::red).save(path));
        const ImageIOService io;
        const auto real = computeHistogram(io, QUrl::fromLocalFile(path));
        QVERIFY(real);
        QCOMPARE(real->red, bins({{255, 512 * 256}}));
        QVERIFY(!computeHistogram(io, QUrl::fromLocalFile(dir.filePath(u"missing.png"_s))));
        // A camera's 160 x 120 Exif thumbnail is counted instead of decoding the photo; a
        // smaller one is not enough.
        const QString jpeg = dir.filePath(u"camera.jpg"_s);
        for (const int side : {160, 80}) {
            QVERIFY(writeImage(jpeg, filled({1024, 768}, Qt::red), "JPEG"));
            QVERIFY(setExifThumbnail(jpeg, filled({side, side * 3 / 4}, Qt::blue)));
            const auto counted = computeHistogram(io, QUrl::fromLocalFile(jpeg));
            QVERIFY(counted);
            const bool embedded = side == 160;
            QCOMPARE(std::accumulate(counted->red.begin(), counted->red.end(), quint64(0)),
                     quint64(embedded ? 160 * 120 : 512 * 384));
            QCOMPARE(counted->blue[0] == 0, embedded);
        }
    }

    void blurredBackgrounds()
    {
        // Black without a thumbnail or from a transparent one (seen over black, never blurred
        // into see-through edges); a plain thumbnail stays plain to its corners, at 0.55.
        const int level = qRound(255 * background::blurOpacity);
        for (const auto &[thumbnail, red] :
             {std::pair{QImage(), 0},
              std::pair{filled({40, 30}, Qt::transparent, QImage::Format_ARGB32), 0},
              std::pair{filled({160, 120}, Qt::red), level}}) {
            const QImage b = background::blurredBackground(thumbnail, QSize(800, 600));
            QVERIFY(b.width() < 200 && !b.hasAlphaChannel()); // a fraction of the window
            for (QPoint p : {QPoint(0, 0), QPoint(b.width() - 1, b.height() - 1)}) {
                QVERIFY(std::abs(b.pixelColor(p).red() - red) <= 2);
                QCOMPARE(b.pixelColor(p).green(), 0);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCoreModels)
#include "tst_coremodels.moc"
