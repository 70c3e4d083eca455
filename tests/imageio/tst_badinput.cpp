// Broken, truncated and hostile files: every decode ends with an absent result or a
// sound image, never a crash, a hang or an allocation the header asked for.
#include "imageio/ApngReader.h"
#include "imageio/HeifBoxes.h"
#include "imageio/ImageDecoding.h"
#include "imageio/ImageProperties.h"
#include "imageio/PsdReader.h"
#include "support/ImageFixtures.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

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

// Qt writes no interlaced PNG: an 8-bit RGB one with Adam7 passes, unfiltered.
bool writeInterlacedPng(const QImage &image, const QString &path)
{
    const int w = image.width(), h = image.height();
    static constexpr int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    QByteArray raw;
    for (const auto &p : passes)
        for (int y = p[1]; y < h && p[0] < w; y += p[3]) {
            raw += '\0';
            for (int x = p[0]; x < w; x += p[2])
                raw += QByteArray::fromRawData(
                    reinterpret_cast<const char *>(image.constScanLine(y)) + 3 * x, 3);
        }
    return writeBytes(path, pngFile({{"IHDR", pngIhdr(image.size(), 2, true)},
                                     {"IDAT", qCompress(raw).mid(4)},
                                     {"IEND", {}}}));
}

bool writeNoise(const QImage &image, const QString &path, const QByteArray &options)
{
    if (options == "interlaced")
        return writeInterlacedPng(image.convertToFormat(QImage::Format_RGB888), path);
    QImageWriter writer(path);
    writer.setProgressiveScanWrite(options == "progressive");
    writer.setQuality(95);
    return writer.write(image);
}

// Every reader's sample: the file name picks the decoder; `reader`, when set, is the
// format's own parser, run on every cut and every one-byte damage (under the sanitizers),
// and it must refuse a file missing any of its first `needed` bytes.
struct Sample {
    QString name;
    QByteArray bytes;
    std::function<bool(const QByteArray &)> reader = {};
    qsizetype needed = 0;
};

bool readsPsd(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    return buffer.open(QIODevice::ReadOnly) && readPsdComposite(buffer).has_value();
}

bool readsHeifBoxes(const QByteArray &bytes)
{
    const auto t = readHeifPrimaryTransform(QByteArrayView(bytes));
    return t && t->rotationCcwQuarterTurns >= 0 && t->rotationCcwQuarterTurns < 4;
}

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::vector<Sample> samples;

    QByteArray written(const QString &name) { return readBytes(dir.filePath(name)); }

    // With ORVA_FUZZ_SEEDS set, the valid samples become the fuzzer's seed corpus: the
    // first byte picks the file name the fuzz target writes (see fuzz/fuzz_decode.cpp).
    void writeFuzzSeeds() const
    {
        const QString out = qEnvironmentVariable("ORVA_FUZZ_SEEDS");
        if (out.isEmpty())
            return;
        const QStringList names =
            QStringLiteral("jpg png gif webp tif bmp ico heic avif psd dng cur")
                .split(QLatin1Char(' '));
        QDir().mkpath(out);
        for (const Sample &sample : samples) {
            const qsizetype pick = names.indexOf(QFileInfo(sample.name).suffix());
            writeBytes(out + QStringLiteral("/seed-") + sample.name,
                       QByteArray(1, char(pick)) + sample.bytes);
        }
    }

    void check(const Sample &sample, const QByteArray &bytes, bool decode)
    {
        if (sample.reader)
            sample.reader(bytes);
        if (!decode)
            return;
        const QString path = dir.filePath(QStringLiteral("bad-") + sample.name);
        QVERIFY(writeBytes(path, bytes));
        checkSound(decodeImage(QUrl::fromLocalFile(path), 64));
        readImageProperties(QUrl::fromLocalFile(path));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const QImage img = quadrants(48, 32);
        for (const char *ext : {"jpg", "png", "bmp", "tif", "webp", "ico"}) {
            const QString name = QStringLiteral("valid.") + QLatin1String(ext);
            QVERIFY(img.save(dir.filePath(name)));
            if (name.endsWith(QLatin1String("jpg")))
                QVERIFY(setExifTags(dir.filePath(name), {{"Exif.Image.Orientation", "6"},
                                                         {"Exif.Image.Make", "Test"}}));
            samples.push_back({name, written(name)});
        }
        // Palette and transparency take other paths through the PNG decoder.
        QImage clear = img.convertToFormat(QImage::Format_ARGB32);
        clear.setPixel(0, 0, 0);
        const QString indexed = QStringLiteral("valid.indexed.png");
        QVERIFY(clear.convertToFormat(QImage::Format_Indexed8).save(dir.filePath(indexed)));
        samples.push_back({indexed, written(indexed)});
        QVERIFY(
            writeGif(dir.filePath(QStringLiteral("valid.gif")), {img, img.mirrored()}, {10, 10}));
        samples.push_back({QStringLiteral("valid.gif"), written(QStringLiteral("valid.gif"))});
        // A thumbnail item gives the meta box more items and properties to walk.
        QVERIFY(writeHeif(dir.filePath(QStringLiteral("valid.heic")), img, 8, false, 16));
        const QByteArray heic = written(QStringLiteral("valid.heic"));
        samples.push_back(
            {QStringLiteral("valid.heic"), heic, readsHeifBoxes, boxEnd(heic, "meta")});
        // Frames that are offset, blended and disposed in each way.
        QImage half(2, 2, QImage::Format_ARGB32);
        half.fill(QColor(0, 0, 255, 128));
        const QByteArray apng = pngFile(apngChunks({{img},
                                                    {half, 1, 10, {1, 1}, 1, 1},
                                                    {half, 1, 10, {3, 2}, 2, 0},
                                                    {img, 0, 0, {}, 0, 1}}));
        const auto readsApng = [](const QByteArray &b) { return readApng(b).has_value(); };
        samples.push_back({QStringLiteral("anim.png"), apng, readsApng, apng.size()});
        // PackBits rows, resources and merged alpha; a deep CMYK large-document file.
        Psd rgba{20, 3, 8, 3, std::vector(4, QByteArray("aaaabcdefghijjjjjjjj").repeated(3))};
        rgba.compression = 1;
        rgba.layers = be32(2) + QByteArray("\xff\xff", 2); // a layer count of -1
        rgba.resources = QByteArray("8BIM\x03\xe8\0\0\0\0\0\x03"
                                    "abc\0",
                                    16);
        const Psd deep{
            3,  2, 16, 4, std::vector(4, QByteArray("\0\1\0\2\x12\x34\x12\x34\x12\x34\0\5", 12)),
            {}, 2, 1};
        for (const auto &[name, psd] : {std::pair{"rgba.psd", rgba}, {"deep.psd", deep}}) {
            QVERIFY(readsPsd(psd.bytes()));
            samples.push_back({QLatin1String(name), psd.bytes(), readsPsd, psd.bytes().size()});
        }
        writeFuzzSeeds();
    }

    void truncations_data()
    {
        QTest::addColumn<int>("sample");
        for (size_t i = 0; i < samples.size(); ++i)
            QTest::newRow(qPrintable(samples[i].name)) << int(i);
    }
    void truncations()
    {
        QFETCH(int, sample);
        const Sample &s = samples[size_t(sample)];
        if (s.reader)
            QVERIFY(s.reader(s.bytes));
        const qsizetype step = std::max<qsizetype>(1, s.bytes.size() / 40);
        for (qsizetype n = 0; n < s.bytes.size(); ++n) {
            if (n < s.needed)
                QVERIFY2(!s.reader(s.bytes.left(n)), qPrintable(QString::number(n)));
            check(s, s.bytes.left(n), n % step == 0);
        }
    }

    void corruptions_data() { truncations_data(); }
    void corruptions()
    {
        QFETCH(int, sample);
        const Sample &s = samples[size_t(sample)];
        if (s.reader) // one pass of single-byte damage; the fuzz target goes deeper
            for (qsizetype i = 0; i < s.bytes.size(); ++i) {
                QByteArray bytes = s.bytes;
                bytes[i] = char(bytes[i] ^ 0x5a);
                check(s, bytes, false);
            }
        quint32 seed = 12345;
        for (int round = 0; round < 30; ++round) {
            QByteArray bytes = s.bytes;
            // Headers matter most: half the damage lands in the first 64 bytes.
            for (int k = 0; k < 3; ++k) {
                seed = seed * 1664525u + 1013904223u;
                const qsizetype at = (round % 2 ? seed % std::min<qsizetype>(64, bytes.size())
                                                : seed % bytes.size());
                bytes[at] = char(bytes[at] ^ char(1 + (seed >> 24) % 255));
            }
            check(s, bytes, true);
        }
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

        PngChunks chunks{{"IHDR", pngIhdr({200000, 200000}, 6)}};
        QTest::newRow("png 200000x200000, cut after its header")
            << QStringLiteral("huge.png") << pngFile(chunks) << DecodeFailure::damaged;
        chunks.push_back({"IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)});
        chunks.push_back({"IEND", {}});
        QTest::newRow("png 200000x200000")
            << QStringLiteral("whole-huge.png") << pngFile(chunks) << DecodeFailure::tooLarge;
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
        if (ext == QLatin1String("png")) // lossless: the arrived pixels exactly, up to the
            QCOMPARE(shown.pixel(1, 0), noise.pixel(1, 0)); // last complete interlace pass
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
        QVERIFY(writeBytes(header, written(QStringLiteral("valid.png")).left(20)));
        QCOMPARE(reason(header), std::optional(DecodeFailure::damaged));
        const QString locked = dir.filePath(QStringLiteral("locked.png"));
        QVERIFY(writeBytes(locked, written(QStringLiteral("valid.png"))));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
        if (QFile(locked).open(QIODevice::ReadOnly)) // root reads everything
            qInfo("permission check skipped: this user reads unreadable files");
        else
            QCOMPARE(reason(locked), std::optional(DecodeFailure::permissionDenied));
        QVERIFY(!makeThumbnail(QUrl::fromLocalFile(empty), 64));
        // A real image behind the wrong extension still shows.
        const QString misnamed = dir.filePath(QStringLiteral("really-png.heic"));
        QVERIFY(writeBytes(misnamed, written(QStringLiteral("valid.png"))));
        QCOMPARE(reason(misnamed), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
