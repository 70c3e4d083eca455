#include "imageio/HeifBoxes.h"

#include <QBuffer>
#include <QtTest>

using namespace orva;

namespace {

QByteArray be(quint64 v, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char(v >> (8 * i)));
    return out;
}

QByteArray box(const char *type, const QByteArray &b) { return be(8 + b.size(), 4) + type + b; }
QByteArray fullBox(const char *t, int v, int f, QByteArray b)
{
    return box(t, be(v << 24 | f, 4) + b);
}
QByteArray irot(int angle) { return box("irot", be(angle, 1)); }
QByteArray imir(int bit) { return box("imir", be(bit, 1)); }
QByteArray ispe() { return fullBox("ispe", 0, 0, be(64, 4) + be(48, 4)); }

using Entry = std::pair<quint32, QList<int>>; // an item and 1-based property indices

// A minimal still image file; only the meta box carries anything.
struct Heif {
    QList<QByteArray> properties;
    QList<Entry> entries = {{1, {1}}};
    quint32 primary = 1;
    int ipmaVersion = 0;
    quint32 ipmaFlags = 0;

    QByteArray ipma() const
    {
        QByteArray body = be(entries.size(), 4);
        for (const Entry &e : entries) {
            body += be(e.first, ipmaVersion == 0 ? 2 : 4) + be(e.second.size(), 1);
            for (int index : e.second) // marked essential, which must be masked off
                body += (ipmaFlags & 1) ? be(0x8000 | index, 2) : be(0x80 | index, 1);
        }
        return fullBox("ipma", ipmaVersion, ipmaFlags, body);
    }
    QByteArray meta() const
    {
        const bool wide = primary > 0xffff;
        return fullBox("meta", 0, 0,
                       fullBox("hdlr", 0, 0, be(0, 4) + "pict" + QByteArray(13, 0)) +
                           fullBox("pitm", wide ? 1 : 0, 0, be(primary, wide ? 4 : 2)) +
                           box("iprp", box("ipco", properties.join()) + ipma()));
    }
    QByteArray file() const { return box("ftyp", "heic" + be(0, 4) + "mif1heic") + meta(); }
};

QByteArray primary(QList<QByteArray> p, QList<int> i) { return Heif{p, {{1, i}}}.file(); }

// 0 when the file is refused.
int exifOf(const QByteArray &file)
{
    const std::optional<HeifItemTransform> t = readHeifPrimaryTransform(QByteArrayView(file));
    return t ? exifOrientation(*t) : 0;
}

} // namespace

class TestHeifBoxes : public QObject {
    Q_OBJECT

private slots:
    // Expected orientations are what libheif 1.15 displays for the same properties; 0: refused.
    void orientation_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("exif");
        QTest::newRow("none") << primary({ispe()}, {1}) << 1;
        for (int a = 0; a < 4; ++a)
            QTest::addRow("irot %d", a)
                << primary({ispe(), irot(a)}, {1, 2}) << QList{1, 8, 3, 6}[a];
        QTest::newRow("imir 0") << primary({imir(0)}, {1}) << 4;
        QTest::newRow("imir 1") << primary({imir(1)}, {1}) << 2;
        QTest::newRow("irot 1, imir 0") << primary({irot(1), imir(0)}, {1, 2}) << 5;
        QTest::newRow("imir 0, irot 1") << primary({irot(1), imir(0)}, {2, 1}) << 7;
        QTest::newRow("other items before and after")
            << Heif{{irot(1), imir(1)}, {{2, {1}}, {1, {2}}, {3, {1}}}}.file() << 2;
        QTest::newRow("v1, 32-bit ids")
            << Heif{{ispe(), irot(1)}, {{1, {2}}, {0x10002, {1, 2}}}, 0x10002, 1}.file() << 8;
        QTest::newRow("15-bit indices")
            << Heif{QList<QByteArray>(199, ispe()) << irot(3), {{1, {200}}}, 1, 0, 1}.file() << 6;
        const QByteArray meta = Heif{{irot(2)}}.meta(), ftyp = box("ftyp", "avif") + be(1, 4);
        QTest::newRow("largesize meta")
            << ftyp + "meta" + be(meta.size() + 8, 8) + meta.mid(8) << 3;
        QTest::newRow("largesize mdat first") << ftyp + "mdat" + be(17, 8) + "x" + meta << 3;
        const QByteArray free = ftyp + "free";
        QTest::newRow("2^62 bytes before meta") << free + be(quint64(1) << 62, 8) + meta << 0;
        QTest::newRow("2^64-1 bytes before meta") << free + be(~0ull, 8) + meta << 0;
        QTest::newRow("index past ipco") << primary({irot(1)}, {2}) << 0;
        QTest::newRow("empty irot") << primary({box("irot", {})}, {1}) << 0;
        const QByteArray good = Heif{{irot(1)}}.file();
        QByteArray overlong = good; // irot swallows the first byte of ipma
        overlong.replace(irot(1), be(10, 4) + "irot" + be(1, 1));
        QTest::newRow("property overrunning ipco") << overlong << 0;
        QByteArray lying = good;
        lying.replace(be(1, 4) + be(1, 2) + be(1, 1), be(0x7fffffff, 4) + be(1, 2) + be(1, 1));
        QTest::newRow("lying entry count") << lying << 0;
        QByteArray overrun = good; // ipma ends the file: its last entry claims 127 associations
        overrun[overrun.size() - 2] = 127;
        QTest::newRow("associations past ipma") << overrun << 0;
    }
    void orientation()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, exif);
        QCOMPARE(exifOf(file), exif);
    }

    void writerRoundTrip()
    {
        for (int o = 1; o <= 8; ++o) {
            const HeifItemTransform t = heifTransformFor(o);
            QCOMPARE(exifOrientation(t), o);
            Heif h{{ispe(), irot(t.rotationCcwQuarterTurns)}, {{1, {1, 2}}}};
            if (t.mirror) {
                h.properties << imir(int(*t.mirror));
                h.entries[0].second.insert(t.mirrorFirst ? 1 : 2, 3);
            }
            QCOMPARE(exifOf(h.file()), o);
        }
        QVERIFY(heifTransformFor(0) == HeifItemTransform{} &&
                heifTransformFor(9) == HeifItemTransform{});
    }

    void deviceKeepsPosition()
    {
        QByteArray bytes = primary({irot(1), imir(1)}, {2, 1});
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly) && buffer.seek(5));
        QCOMPARE(readHeifPrimaryTransform(buffer),
                 (HeifItemTransform{1, HeifMirror::LeftRight, true}));
        QCOMPARE(buffer.pos(), 5);
    }
};

QTEST_GUILESS_MAIN(TestHeifBoxes)
#include "tst_heifboxes.moc"
