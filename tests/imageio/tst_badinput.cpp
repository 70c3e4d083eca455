// Broken, truncated and hostile files: every decode ends with an absent result or a
// sound image, never a crash, a hang or an allocation the header asked for.
#include "imageio/ImageDecoding.h"
#include "imageio/ImageProperties.h"
#include "support/ImageFixtures.h"

#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

using namespace orva;
using namespace orva::test;

Q_DECLARE_METATYPE(orva::DecodeFailure)

namespace {

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A decode result must describe itself consistently.
void checkSound(const std::optional<DecodedImage> &d)
{
    if (!d)
        return;
    QVERIFY(d->image);
    QVERIFY(d->preview);
    QVERIFY(d->resolution > 0 && d->resolution <= 1.0);
    if (d->bitmap) {
        QVERIFY(!d->bitmap->isNull());
        QVERIFY(d->image->pointSize.width() >= 1);
    } else {
        QVERIFY(!d->image->frames.empty());
    }
}

void appendChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    char be[4];
    qToBigEndian<quint32>(quint32(data.size()), be);
    png.append(be, 4);
    const QByteArray body = QByteArray(type, 4) + data;
    png += body;
    qToBigEndian<quint32>(
        quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))),
        be);
    png.append(be, 4);
}

// Qt writes no interlaced PNG: an 8-bit RGB one with Adam7 passes, unfiltered.
bool writeInterlacedPng(const QImage &image, const QString &path)
{
    const int w = image.width(), h = image.height();
    static constexpr int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    QByteArray raw;
    for (const auto &p : passes)
        for (int y = p[1]; y < h; y += p[3]) {
            if (p[0] >= w)
                break;
            raw += '\0';
            for (int x = p[0]; x < w; x += p[2]) {
                const QRgb c = image.pixel(x, y);
                raw += char(qRed(c));
                raw += char(qGreen(c));
                raw += char(qBlue(c));
            }
        }
    QByteArray packed(int(compressBound(uLong(raw.size()))), '\0');
    uLongf packedSize = uLongf(packed.size());
    if (compress(reinterpret_cast<Bytef *>(packed.data()), &packedSize,
                 reinterpret_cast<const Bytef *>(raw.constData()), uLong(raw.size())) != Z_OK)
        return false;
    packed.truncate(int(packedSize));
    QByteArray ihdr(13, '\0');
    qToBigEndian<quint32>(quint32(w), ihdr.data());
    qToBigEndian<quint32>(quint32(h), ihdr.data() + 4);
    ihdr[8] = 8;  // bits
    ihdr[9] = 2;  // RGB
    ihdr[12] = 1; // Adam7
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", ihdr);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", {});
    return writeBytes(path, png);
}

bool writeNoise(const QImage &image, const QString &path, const QByteArray &options)
{
    QImageWriter writer(path);
    if (options == "progressive")
        writer.setProgressiveScanWrite(true);
    if (options == "interlaced")
        return writeInterlacedPng(image, path);
    writer.setQuality(95);
    return writer.write(image);
}

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QMap<QString, QByteArray> samples; // extension -> valid file

    // With ORVA_FUZZ_SEEDS set, the valid samples become the fuzzer's seed corpus: the
    // first byte picks the file name the fuzz target writes (see fuzz/fuzz_decode.cpp).
    void writeFuzzSeeds() const
    {
        const QString out = qEnvironmentVariable("ORVA_FUZZ_SEEDS");
        if (out.isEmpty())
            return;
        const QStringList names{QStringLiteral("jpg"), QStringLiteral("png"),
                                QStringLiteral("gif"), QStringLiteral("webp"),
                                QStringLiteral("tif"), QStringLiteral("bmp"),
                                QStringLiteral("ico"), QStringLiteral("heic")};
        QDir().mkpath(out);
        for (const auto &[ext, bytes] : samples.asKeyValueRange()) {
            const qsizetype pick = ext == QLatin1String("apng") ? 1 : names.indexOf(ext);
            if (pick >= 0)
                writeBytes(out + QStringLiteral("/seed-") + ext, QByteArray(1, char(pick)) + bytes);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const QImage img = quadrants(48, 32);
        auto keep = [&](const QString &ext) {
            samples.insert(ext, readBytes(dir.filePath(QStringLiteral("valid.") + ext)));
            QVERIFY(!samples.value(ext).isEmpty());
        };
        for (const char *fmt : {"jpg", "png", "bmp", "tif", "webp", "ico"}) {
            const QString ext = QString::fromLatin1(fmt);
            QVERIFY(img.save(dir.filePath(QStringLiteral("valid.") + ext)));
            keep(ext);
        }
        // Palette and transparency take other paths through the PNG decoder.
        QImage clear = img.convertToFormat(QImage::Format_ARGB32);
        clear.setPixel(0, 0, 0);
        QVERIFY(clear.convertToFormat(QImage::Format_Indexed8)
                    .save(dir.filePath(QStringLiteral("valid.indexed.png"))));
        keep(QStringLiteral("indexed.png"));
        QVERIFY(setExifTags(dir.filePath(QStringLiteral("valid.jpg")),
                            {{"Exif.Image.Orientation", "6"}, {"Exif.Image.Make", "Test"}}));
        keep(QStringLiteral("jpg"));
        QVERIFY(
            writeGif(dir.filePath(QStringLiteral("valid.gif")), {img, img.mirrored()}, {10, 10}));
        keep(QStringLiteral("gif"));
        QVERIFY(writeHeif(dir.filePath(QStringLiteral("valid.heic")), img, 8));
        keep(QStringLiteral("heic"));
        samples.insert(QStringLiteral("apng"), buildApng({img, img.mirrored()}, {50, 50}));
        writeFuzzSeeds();
    }

    void truncations_data()
    {
        QTest::addColumn<QString>("ext");
        for (const QString &ext : samples.keys())
            QTest::newRow(qPrintable(ext)) << ext;
    }
    void truncations()
    {
        QFETCH(QString, ext);
        const QByteArray valid = samples.value(ext);
        const QString name = dir.filePath(
            QStringLiteral("cut.") + (ext == QLatin1String("apng") ? QStringLiteral("png") : ext));
        const qsizetype step = std::max<qsizetype>(1, valid.size() / 40);
        for (qsizetype n = 0; n < valid.size(); n += step) {
            QVERIFY(writeBytes(name, valid.left(n)));
            checkSound(decodeImage(QUrl::fromLocalFile(name), 64));
            readImageProperties(QUrl::fromLocalFile(name));
        }
    }

    void corruptions_data() { truncations_data(); }
    void corruptions()
    {
        QFETCH(QString, ext);
        const QByteArray valid = samples.value(ext);
        const QString name = dir.filePath(
            QStringLiteral("bad.") + (ext == QLatin1String("apng") ? QStringLiteral("png") : ext));
        quint32 seed = 12345;
        for (int round = 0; round < 60; ++round) {
            QByteArray bytes = valid;
            // Headers matter most: half the damage lands in the first 64 bytes.
            for (int k = 0; k < 3; ++k) {
                seed = seed * 1664525u + 1013904223u;
                const qsizetype at = (round % 2 ? seed % std::min<qsizetype>(64, bytes.size())
                                                : seed % bytes.size());
                bytes[at] = char(bytes[at] ^ char(1 + (seed >> 24) % 255));
            }
            QVERIFY(writeBytes(name, bytes));
            checkSound(decodeImage(QUrl::fromLocalFile(name), 64));
            readImageProperties(QUrl::fromLocalFile(name));
        }
    }

    void emptyAndWrongFiles()
    {
        const QString empty = dir.filePath(QStringLiteral("empty.jpg"));
        QVERIFY(writeBytes(empty, QByteArray()));
        QVERIFY(!decodeImage(QUrl::fromLocalFile(empty)));
        QVERIFY(!makeThumbnail(QUrl::fromLocalFile(empty), 64));
        const QString text = dir.filePath(QStringLiteral("notes.png"));
        QVERIFY(writeBytes(text, "just some text, not an image\n"));
        QVERIFY(!decodeImage(QUrl::fromLocalFile(text)));
        QVERIFY(!decodeImage(QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing.png")))));
        // A real image behind the wrong extension still shows.
        const QString misnamed = dir.filePath(QStringLiteral("really-png.heic"));
        QVERIFY(writeBytes(misnamed, samples.value(QStringLiteral("png"))));
        const auto d = decodeImage(QUrl::fromLocalFile(misnamed));
        QVERIFY(d);
        QCOMPARE(d->bitmap->size(), QSize(48, 32));
    }

    // Headers claiming gigapixels must be refused before anything that size is allocated
    // (under AddressSanitizer such an allocation aborts the test).
    void hostileDimensions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        // Refused before decoding when the header can be read; Qt's readers refuse some
        // headers outright, which reads as damaged.
        QTest::addColumn<DecodeFailure>("reason");

        QByteArray bmp(54 + 4, '\0');
        bmp[0] = 'B';
        bmp[1] = 'M';
        qToLittleEndian<quint32>(quint32(bmp.size()), bmp.data() + 2);
        qToLittleEndian<quint32>(54, bmp.data() + 10);
        qToLittleEndian<quint32>(40, bmp.data() + 14);
        qToLittleEndian<qint32>(1073741826, bmp.data() + 18);
        qToLittleEndian<qint32>(1, bmp.data() + 22);
        qToLittleEndian<quint16>(1, bmp.data() + 26);
        qToLittleEndian<quint16>(32, bmp.data() + 28);
        QTest::newRow("bmp 1073741826x1")
            << QStringLiteral("huge.bmp") << bmp << DecodeFailure::damaged;

        QByteArray gif("GIF89a");
        gif += QByteArray("\xff\xff\xff\xff\x00\x00\x00", 7);
        gif += QByteArray(",\x00\x00\x00\x00\xff\xff\xff\xff\x00\x02\x02\x44\x01\x00;", 17);
        QTest::newRow("gif 65535x65535")
            << QStringLiteral("huge.gif") << gif << DecodeFailure::tooLarge;

        QByteArray png("\x89PNG\r\n\x1a\n", 8);
        QByteArray ihdr("IHDR");
        char dims[8];
        qToBigEndian<quint32>(200000, dims);
        qToBigEndian<quint32>(200000, dims + 4);
        ihdr.append(dims, 8);
        ihdr.append("\x08\x06\x00\x00\x00", 5);
        char len[4];
        qToBigEndian<quint32>(13, len);
        png.append(len, 4);
        png += ihdr;
        char crc[4];
        qToBigEndian<quint32>(
            quint32(crc32(0, reinterpret_cast<const Bytef *>(ihdr.constData()), uInt(ihdr.size()))),
            crc);
        png.append(crc, 4);
        QTest::newRow("png 200000x200000, cut after its header")
            << QStringLiteral("huge.png") << png << DecodeFailure::damaged;
        appendChunk(png, "IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8));
        appendChunk(png, "IEND", {});
        QTest::newRow("png 200000x200000")
            << QStringLiteral("whole-huge.png") << png << DecodeFailure::tooLarge;
    }
    void hostileDimensions()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(DecodeFailure, reason);
        const QString p = dir.filePath(name);
        QVERIFY(writeBytes(p, bytes));
        DecodeFailure why = DecodeFailure::unreadable;
        QVERIFY(!decodeImage(QUrl::fromLocalFile(p), std::nullopt, &why));
        QCOMPARE(why, reason);
        QVERIFY(!decodeImage(QUrl::fromLocalFile(p), 2560));
        QVERIFY(!makeThumbnail(QUrl::fromLocalFile(p), 256));
    }

    // An interrupted download shows the rows that arrived; the rest is left transparent
    // for the background. A file cut inside its header still fails, as damaged.
    void interruptedDownloads_data()
    {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QByteArray>("options"); // how the file is written
        QTest::newRow("png") << "png" << QByteArray();
        QTest::newRow("interlaced png") << "png" << QByteArray("interlaced");
        QTest::newRow("jpeg") << "jpg" << QByteArray();
        QTest::newRow("progressive jpeg") << "jpg" << QByteArray("progressive");
    }
    void interruptedDownloads()
    {
        QFETCH(QString, ext);
        QFETCH(QByteArray, options);
        // Noise, so that the data is spread evenly over the rows.
        QImage noise(64, 256, QImage::Format_RGB32);
        quint32 seed = 7;
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                noise.setPixel(x, y, seed >> 8);
            }
        const QString whole = dir.filePath(QStringLiteral("whole.") + ext);
        QVERIFY(writeNoise(noise, whole, options));
        const QByteArray bytes = readBytes(whole);
        const QString cut = dir.filePath(QStringLiteral("interrupted.") + ext);
        QVERIFY(writeBytes(cut, bytes.left(bytes.size() * 6 / 10)));

        const auto d = decodeImage(QUrl::fromLocalFile(cut));
        QVERIFY(d && d->bitmap);
        checkSound(d);
        QCOMPARE(d->bitmap->size(), noise.size());
        const QImage shown = d->bitmap->convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(qAlpha(shown.pixel(10, 5)), 255);
        if (options.isEmpty()) { // read top to bottom: the lower part never arrived
            QCOMPARE(qAlpha(shown.pixel(10, 250)), 0);
            int opaqueRows = 0;
            while (opaqueRows < shown.height() && qAlpha(shown.pixel(0, opaqueRows)) == 255)
                ++opaqueRows;
            QVERIFY2(opaqueRows > 256 * 4 / 10 && opaqueRows < 256 * 8 / 10,
                     QByteArray::number(opaqueRows));
        } else { // the early passes or scans cover the whole picture, coarser
            QCOMPARE(qAlpha(shown.pixel(10, 250)), 255);
        }
        // Bounded decodes and thumbnails take the same path.
        const auto small = decodeImage(QUrl::fromLocalFile(cut), 64);
        QVERIFY(small && std::max(small->bitmap->width(), small->bitmap->height()) <= 256);
        QVERIFY(makeThumbnail(QUrl::fromLocalFile(cut), 32));

        // Cut inside the header: nothing to show.
        QVERIFY(writeBytes(cut, bytes.left(ext == QLatin1String("png") ? 40 : 120)));
        DecodeFailure why = DecodeFailure::unreadable;
        QVERIFY(!decodeImage(QUrl::fromLocalFile(cut), 2560, &why));
        QCOMPARE(why, DecodeFailure::damaged);
    }

    // Why a decode failed, carried out of the image layer.
    void failureReasons()
    {
        const auto reason = [](const QString &path) {
            DecodeFailure why = DecodeFailure::damaged;
            const auto d = decodeImage(QUrl::fromLocalFile(path), 256, &why);
            return d ? std::optional<DecodeFailure>() : std::optional(why);
        };
        QCOMPARE(reason(dir.filePath(QStringLiteral("nowhere.jpg"))),
                 std::optional(DecodeFailure::missing));
        const QString text = dir.filePath(QStringLiteral("text.jpg"));
        QVERIFY(writeBytes(text, "not a picture at all\n"));
        QCOMPARE(reason(text), std::optional(DecodeFailure::unreadable));
        const QString empty = dir.filePath(QStringLiteral("nothing.png"));
        QVERIFY(writeBytes(empty, QByteArray()));
        QCOMPARE(reason(empty), std::optional(DecodeFailure::unreadable));
        const QString header = dir.filePath(QStringLiteral("header.png"));
        QVERIFY(writeBytes(header, samples.value(QStringLiteral("png")).left(20)));
        QCOMPARE(reason(header), std::optional(DecodeFailure::damaged));
        const QString locked = dir.filePath(QStringLiteral("locked.png"));
        QVERIFY(writeBytes(locked, samples.value(QStringLiteral("png"))));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
        if (QFile(locked).open(QIODevice::ReadOnly)) // root reads everything
            qInfo("permission check skipped: this user reads unreadable files");
        else
            QCOMPARE(reason(locked), std::optional(DecodeFailure::permissionDenied));
        QCOMPARE(reason(dir.filePath(QStringLiteral("valid.png"))), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
