#include "core/metadata/MetadataRows.h"

#include "core/listing/FolderListing.h"

#include "core/services/ImageService.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace orva {

namespace {

// The wall-clock fields of an EXIF stamp, before any time zone is applied.
struct ExifStamp {
    QDate date;
    QTime time;
};

// Reads "yyyy:MM:dd HH:mm:ss" digit by digit: no locale, no leniency about field widths,
// signs or surrounding text, and nothing shared between threads.
std::optional<ExifStamp> parseExifStamp(QStringView text)
{
    static constexpr char16_t shape[] = u"dddd:dd:dd dd:dd:dd";
    constexpr qsizetype length = std::size(shape) - 1;
    if (text.size() != length)
        return std::nullopt;
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = text[i].unicode();
        if (shape[i] == u'd' ? (c < u'0' || c > u'9') : c != shape[i])
            return std::nullopt;
    }
    const auto number = [&](qsizetype from, qsizetype count) {
        int n = 0;
        for (qsizetype i = from; i < from + count; ++i)
            n = n * 10 + (text[i].unicode() - u'0');
        return n;
    };
    // Year 0 does not exist for QDate, which also rules out the all-zero "unknown" stamp.
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const QTime time(number(11, 2), number(14, 2), number(17, 2));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return ExifStamp{date, time};
}

// End of the quoted text that starts at `from` (where '' stands for a quote).
qsizetype quotedEnd(const QString &format, qsizetype from)
{
    qsizetype j = from + 1;
    while (j < format.size()) {
        if (format[j] == u'\'') {
            if (j + 1 < format.size() && format[j + 1] == u'\'') {
                j += 2;
                continue;
            }
            break;
        }
        ++j;
    }
    return std::min(j + 1, format.size());
}

bool isListSeparator(QChar c)
{
    return c.isSpace() || c == u',' || c == u'\u060C' || c == u'\u3001' || c == u'\uFF0C';
}

// The locale's long date without the weekday and with the short month name ("MMM d, yyyy"
// for en_US): the locale has no medium date of its own to ask for.
QString abbreviatedDateFormat(const QLocale &locale)
{
    const QString longFormat = locale.dateFormat(QLocale::LongFormat);
    struct Token {
        QString text;
        bool weekday = false;
        bool separator = false;
        bool field = false;
    };
    QList<Token> tokens;
    for (qsizetype i = 0; i < longFormat.size();) {
        const QChar c = longFormat[i];
        if (c == u'\'') {
            // Quoted text stays literal.
            const qsizetype end = quotedEnd(longFormat, i);
            tokens.append({longFormat.mid(i, end - i)});
            i = end;
        } else if (c == u'd' || c == u'M' || c == u'y') {
            qsizetype j = i;
            while (j < longFormat.size() && longFormat[j] == c)
                ++j;
            const qsizetype run = j - i;
            if (c == u'M' && run == 4)
                tokens.append({QStringLiteral("MMM"), false, false, true});
            else
                tokens.append({longFormat.mid(i, run), c == u'd' && run >= 3, false, true});
            i = j;
        } else {
            tokens.append({QString(c), false, isListSeparator(c)});
            ++i;
        }
    }

    for (qsizetype w = 0; w < tokens.size(); ++w) {
        if (!tokens[w].weekday)
            continue;
        const bool leading = std::none_of(tokens.cbegin(), tokens.cbegin() + w,
                                          [](const Token &t) { return t.field; });
        tokens.removeAt(w);
        // Drop the separator that tied the weekday to the rest: after it when it led the
        // date, before it otherwise ("dddd, d MMMM" and "yyyy년 M월 d일 dddd").
        if (leading) {
            while (w < tokens.size() && tokens[w].separator)
                tokens.removeAt(w);
        } else {
            while (w > 0 && tokens[w - 1].separator)
                tokens.removeAt(--w);
        }
        --w;
    }

    QString result;
    for (const Token &t : tokens)
        result += t.text;
    return result;
}

// The locale's short time without seconds: some locales' short format (C's "HH:mm:ss"
// among them) still carries them. The seconds field goes with the separator before it and
// a quoted unit right after it ("HH:mm:ss", "H 'h' mm 'min' ss 's'").
QString shortenedTimeFormat(const QLocale &locale)
{
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    QString out;
    qsizetype keptUpTo = 0; // end of the last field or quoted text kept in `out`
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        const bool quoted = c == u'\'';
        qsizetype j = i + 1;
        if (quoted)
            j = quotedEnd(format, i);
        else if (c.isLetter())
            while (j < format.size() && format[j] == c)
                ++j;
        if (c == u's' || c == u'z') {
            out.truncate(keptUpTo);
            qsizetype k = j;
            while (k < format.size() && format[k] == u' ')
                ++k;
            if (k < format.size() && format[k] == u'\'')
                j = quotedEnd(format, k);
        } else {
            out += QStringView(format).mid(i, j - i);
            if (quoted || c.isLetter())
                keptUpTo = out.size();
        }
        i = j;
    }
    return out.trimmed();
}

QString formatTakenDate(const ExifStamp &stamp, const QLocale &locale)
{
    //: Date and time of the Date row, e.g. "Jun 3, 2024, 4:05 PM"
    return QCoreApplication::translate("Orva", "%1, %2")
        .arg(locale.toString(stamp.date, abbreviatedDateFormat(locale)),
             locale.toString(stamp.time, shortenedTimeFormat(locale)));
}

QString formatShutter(double seconds)
{
    if (seconds >= 1)
        return QString::asprintf("%.1fs", seconds);
    return QString::asprintf("1/%.0fs", 1 / seconds);
}

bool isFinite(const std::optional<double> &v) { return v && std::isfinite(*v); }
bool hasText(const std::optional<QString> &v) { return v && !v->isEmpty(); }

} // namespace

QString formatFileSize(qint64 bytes, const QLocale &locale)
{
    const quint64 magnitude = bytes < 0 ? 0 - quint64(bytes) : quint64(bytes);
    const QString sign = bytes < 0 ? locale.negativeSign() : QString();
    if (magnitude < 1000) {
        return magnitude == 1
                   ? QCoreApplication::translate("Orva", "%1 byte").arg(sign + locale.toString(1))
                   : QCoreApplication::translate("Orva", "%1 bytes")
                         .arg(sign + locale.toString(magnitude));
    }
    static const char *const units[] = {
        QT_TRANSLATE_NOOP("Orva", "%1 kB"), QT_TRANSLATE_NOOP("Orva", "%1 MB"),
        QT_TRANSLATE_NOOP("Orva", "%1 GB"), QT_TRANSLATE_NOOP("Orva", "%1 TB"),
        QT_TRANSLATE_NOOP("Orva", "%1 PB"), QT_TRANSLATE_NOOP("Orva", "%1 EB")};
    // Whole kilobytes, megabytes to a tenth, larger units to a hundredth. The unit is chosen
    // after rounding, so 999,999 bytes reads "1 MB" and never "1,000 kB". Integer steps keep
    // the halfway cases exact.
    quint64 unitBytes = 1000;
    for (int u = 0;; ++u, unitBytes *= 1000) {
        const int decimals = u == 0 ? 0 : u == 1 ? 1 : 2;
        const quint64 scale = decimals == 0 ? 1 : decimals == 1 ? 10 : 100;
        const quint64 step = unitBytes / scale;
        const quint64 rounded = magnitude / step + (magnitude % step >= step / 2 ? 1 : 0);
        if (rounded >= 1000 * scale && u + 1 < int(std::size(units)))
            continue;
        int shown = decimals; // trailing zeros are dropped: "1 MB", "2.5 GB"
        quint64 digits = rounded;
        while (shown > 0 && digits % 10 == 0) {
            digits /= 10;
            --shown;
        }
        const double value = double(rounded) / double(scale);
        return QCoreApplication::translate("Orva", units[u])
            .arg(sign + locale.toString(value, 'f', shown));
    }
}

std::optional<QDateTime> parseExifDate(const QString &text)
{
    const auto stamp = parseExifStamp(text);
    if (!stamp)
        return std::nullopt;
    const QDateTime local(stamp->date, stamp->time);
    if (local.isValid())
        return local;
    // The camera clock had not yet been moved forward and recorded a time the local zone
    // skips. Read it with the offset in force a day earlier, which lands just after the gap.
    const QDateTime asUtc(stamp->date, stamp->time, QTimeZone::utc());
    const int offsetBefore = asUtc.addDays(-1).toLocalTime().offsetFromUtc();
    const QDateTime shifted =
        QDateTime(stamp->date, stamp->time, QTimeZone(offsetBefore)).toLocalTime();
    if (!shifted.isValid())
        return std::nullopt;
    return shifted;
}

QList<MetadataEntry> formatMetadataEntries(std::optional<qint64> fileSize,
                                           const std::optional<ImageProperties> &props,
                                           const QLocale &locale)
{
    QList<MetadataEntry> rows;
    const auto add = [&](const char *label, const QString &value) {
        rows.append({QCoreApplication::translate("Orva", label), value});
    };

    if (fileSize)
        add(QT_TRANSLATE_NOOP("Orva", "File Size"), formatFileSize(*fileSize, locale));
    if (!props)
        return rows;

    if (props->pixelWidth && props->pixelHeight && *props->pixelWidth > 0 &&
        *props->pixelHeight > 0)
        add(QT_TRANSLATE_NOOP("Orva", "Dimensions"), QString::number(*props->pixelWidth) +
                                                         QStringLiteral(" \u00D7 ") +
                                                         QString::number(*props->pixelHeight));
    if (props->depth && *props->depth > 0)
        add(QT_TRANSLATE_NOOP("Orva", "Bit Depth"),
            QString::number(*props->depth) + QStringLiteral(" bits"));
    if (hasText(props->colorModel))
        add(QT_TRANSLATE_NOOP("Orva", "Color Model"), *props->colorModel);

    if (const auto &tiff = props->tiff) {
        if (hasText(tiff->make))
            add(QT_TRANSLATE_NOOP("Orva", "Camera"), *tiff->make);
        if (hasText(tiff->model))
            add(QT_TRANSLATE_NOOP("Orva", "Model"), *tiff->model);
    }

    if (const auto &exif = props->exif) {
        if (hasText(exif->dateTimeOriginal)) {
            const auto stamp = parseExifStamp(*exif->dateTimeOriginal);
            // The wall clock as the camera wrote it, whatever zone this machine is in.
            add(QT_TRANSLATE_NOOP("Orva", "Date"),
                stamp ? formatTakenDate(*stamp, locale) : *exif->dateTimeOriginal);
        }
        if (isFinite(exif->focalLength))
            add(QT_TRANSLATE_NOOP("Orva", "Focal Length"),
                QString::asprintf("%.0fmm", *exif->focalLength));
        if (isFinite(exif->fNumber))
            add(QT_TRANSLATE_NOOP("Orva", "Aperture"), QString::asprintf("f/%.1f", *exif->fNumber));
        // A vanishing exposure would print "1/inf".
        if (isFinite(exif->exposureTime) && *exif->exposureTime > 0 &&
            std::isfinite(1 / *exif->exposureTime))
            add(QT_TRANSLATE_NOOP("Orva", "Shutter"), formatShutter(*exif->exposureTime));
        if (exif->isoSpeedRatings && !exif->isoSpeedRatings->isEmpty())
            add(QT_TRANSLATE_NOOP("Orva", "ISO"), QString::number(exif->isoSpeedRatings->first()));
        if (hasText(exif->lensModel))
            add(QT_TRANSLATE_NOOP("Orva", "Lens"), *exif->lensModel);
    }

    if (const auto &gps = props->gps) {
        if (isFinite(gps->latitude) && gps->latitudeRef && isFinite(gps->longitude) &&
            gps->longitudeRef) {
            const double lat = *gps->latitudeRef == u"S" ? -*gps->latitude : *gps->latitude;
            const double lon = *gps->longitudeRef == u"W" ? -*gps->longitude : *gps->longitude;
            add(QT_TRANSLATE_NOOP("Orva", "GPS"), QString::asprintf("%.6f, %.6f", lat, lon));
        }
    }
    return rows;
}

QList<MetadataEntry> readMetadataEntries(const QUrl &url, const ImageService &images)
{
    std::optional<qint64> fileSize;
    if (const auto identity = fileIdentity(url)) // by bytes: the name need not be UTF-8
        fileSize = identity->size;
    return formatMetadataEntries(fileSize, images.readProperties(url));
}

std::optional<QDateTime> dateTaken(const QUrl &url, const ImageService &images)
{
    const auto props = images.readProperties(url);
    if (!props || !props->exif || !props->exif->dateTimeOriginal)
        return std::nullopt;
    return parseExifDate(*props->exif->dateTimeOriginal);
}

} // namespace orva
