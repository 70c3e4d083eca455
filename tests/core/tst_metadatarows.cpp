#include "core/metadata/MetadataRows.h"
#include "core/services/ImageService.h"

#include <QTemporaryDir>
#include <QtTest>

#include <ctime>
#include <limits>

using namespace orva;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(orva::ImageProperties)

namespace {

// Hands back the same canned properties for every URL.
struct FakeImages : ImageService {
    std::optional<ImageProperties> props;
    QSet<QString> none;
    const QSet<QString> &supportedExtensions() const override { return none; }
    bool isSupportedImageFile(const QUrl &) const override { return true; }
    std::optional<DecodedImage> decodeImage(const QUrl &, std::optional<int>) const override
    {
        return std::nullopt;
    }
    std::optional<ImageProperties> readProperties(const QUrl &) const override { return props; }
};

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

ImageProperties camera()
{
    ImageProperties p = pngLike();
    p.tiff = TiffProperties{u"Canon"_s, u"EOS R5"_s};
    p.exif =
        ExifCaptureProperties{u"2024:06:03 16:05:00"_s, 50.0, 1.8, 0.004, QList{200}, u"RF 50mm"_s};
    return p;
}

template <class F> ImageProperties exif(F set)
{
    ImageProperties p;
    set(p.exif.emplace());
    return p;
}

ImageProperties shutter(double t)
{
    return exif([=](auto &e) { e.exposureTime = t; });
}

ImageProperties gps(std::optional<double> lat, std::optional<QString> latRef, double lon,
                    QString lonRef)
{
    ImageProperties p;
    p.gps = GpsProperties{lat, latRef, lon, lonRef};
    return p;
}

QStringList labels(const QList<MetadataEntry> &rows)
{
    QStringList out;
    for (const auto &r : rows)
        out << r.label;
    return out;
}

// Null when there is no row with `label`.
QString valueOf(const QList<MetadataEntry> &rows, const QString &label)
{
    for (const auto &r : rows)
        if (r.label == label)
            return r.value;
    return {};
}

} // namespace

class TestMetadataRows : public QObject {
    Q_OBJECT

private slots:
    void rowsFollowWhatTheFileHas()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(u"a.jpg"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(2048, 'x')) == 2048);
        file.close();
        const QUrl url = QUrl::fromLocalFile(file.fileName());
        const QStringList all{u"File Size"_s, u"Dimensions"_s, u"Bit Depth"_s, u"Color Model"_s,
                              u"Camera"_s,    u"Model"_s,      u"Date"_s,      u"Focal Length"_s,
                              u"Aperture"_s,  u"Shutter"_s,    u"ISO"_s,       u"Lens"_s};
        FakeImages images;
        images.props = camera();
        QCOMPARE(labels(readMetadataEntries(url, images)), all);
        QCOMPARE(readMetadataEntries(url, images).first().value, formatFileSize(2048, QLocale()));
        images.props->gps = gps(1, u"N"_s, 2, u"E"_s).gps;
        QCOMPARE(labels(readMetadataEntries(url, images)), all + QStringList{u"GPS"_s});

        images.props = pngLike();
        QCOMPARE(labels(readMetadataEntries(url, images)), all.first(4));
        QVERIFY(!dateTaken(url, images));
        images.props.reset();
        QCOMPARE(labels(readMetadataEntries(url, images)), all.first(1));
        QVERIFY(!dateTaken(url, images));
        QVERIFY(
            readMetadataEntries(QUrl::fromLocalFile(dir.filePath(u"gone"_s)), images).isEmpty());
    }

    void valueRows_data()
    {
        QTest::addColumn<ImageProperties>("props");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("value"); // null: no row
        const auto row = [](const char *name, const ImageProperties &p, const char *label,
                            const char *value = nullptr) {
            QTest::newRow(name) << p << QString::fromUtf8(label) << QString::fromUtf8(value);
        };
        ImageProperties noWidth = pngLike();
        noWidth.pixelWidth = 0;
        row("shutter 0.004", shutter(0.004), "Shutter", "1/250s");
        row("shutter 0.3 rounds down", shutter(0.3), "Shutter", "1/3s");
        row("shutter 1", shutter(1), "Shutter", "1.0s");
        row("shutter 2.5", shutter(2.5), "Shutter", "2.5s");
        row("shutter 0", shutter(0), "Shutter");
        row("shutter negative", shutter(-1), "Shutter");
        row("shutter NaN", shutter(notANumber), "Shutter");
        row("shutter inf", shutter(std::numeric_limits<double>::infinity()), "Shutter");
        row("shutter subnormal", shutter(5e-324), "Shutter");
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
    void valueRows()
    {
        QFETCH(ImageProperties, props);
        QFETCH(QString, label);
        QFETCH(QString, value);
        QCOMPARE(valueOf(formatMetadataEntries(std::nullopt, props, enUS), label), value);
    }

    void fileSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QLocale>("locale");
        // Each unit ends where its rounded value would reach 1000: the next unit takes over.
        const struct {
            qint64 bytes;
            const char16_t *text;
        } cases[] = {
            {0, u"0 bytes"},
            {1, u"1 byte"},
            {999, u"999 bytes"},
            {1000, u"1 kB"},
            {1500, u"2 kB"},
            {999'500, u"1 MB"},
            {1'050'000, u"1.1 MB"},
            {999'950'000, u"1 GB"},
            {1'234'567'890, u"1.23 GB"},
            {999'994'999'999, u"999.99 GB"},
            {999'995'000'000, u"1 TB"},
            {999'995'000'000'000'000, u"1 EB"},
            {std::numeric_limits<qint64>::max(), u"9.22 EB"},
        };
        for (const auto &c : cases)
            QTest::addRow("%lld", c.bytes) << c.bytes << QString::fromUtf16(c.text) << enUS;
        QTest::newRow("de decimal comma")
            << qint64(2'400'000) << u"2,4 MB"_s << QLocale(QLocale::German, QLocale::Germany);
        QTest::newRow("C") << qint64(999'999) << u"1 MB"_s << QLocale::c();
    }
    void fileSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QFETCH(QLocale, locale);
        QCOMPARE(formatFileSize(bytes, locale), text);
    }

    void exifDates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date"); // invalid: rejected
        QTest::newRow("valid") << u"2024:06:03 16:05:00"_s << QDate(2024, 6, 3);
        QTest::newRow("Sydney DST gap") << u"2024:10:06 02:30:00"_s << QDate(2024, 10, 6);
        QTest::newRow("month 13") << u"2024:13:01 00:00:00"_s << QDate();
        QTest::newRow("unknown date") << u"0000:00:00 00:00:00"_s << QDate();
        QTest::newRow("trailing text") << u"2024:06:03 16:05:00Z"_s << QDate();
        QTest::newRow("short fields") << u"2024:6:3 16:05:00"_s << QDate();
        QTest::newRow("Feb 30") << u"2024:02:30 10:00:00"_s << QDate();
        QTest::newRow("hour 24") << u"2024:06:03 24:00:00"_s << QDate();
    }
    void exifDates()
    {
        QFETCH(QString, text);
        QFETCH(QDate, date);
        const auto parsed = parseExifDate(text);
        QCOMPARE(parsed ? parsed->date() : QDate(), date);
        FakeImages images;
        images.props = exif([&](auto &e) { e.dateTimeOriginal = text; });
        QCOMPARE(dateTaken(QUrl(), images), parsed);
    }

    // A camera clock not yet moved forward writes a time the zone skips; keep the photo's
    // date, just past the gap.
    void skippedLocalTimeMovesPastTheGap()
    {
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
};

QTEST_GUILESS_MAIN(TestMetadataRows)
#include "tst_metadatarows.moc"
