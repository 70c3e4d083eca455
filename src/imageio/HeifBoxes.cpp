#include "imageio/HeifBoxes.h"

#include <QByteArray>
#include <QIODevice>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

namespace orva {

namespace {

// Far above anything a camera or encoder writes; they only stop hostile files from making us
// walk millions of tiny boxes or allocate for an absurd ipma.
constexpr int kMaxSiblingBoxes = 4096;
constexpr int kMaxProperties = 0x7fff; // the largest index ipma can express
constexpr qint64 kMaxIpmaBytes = 16 * 1024 * 1024;

constexpr quint32 fourcc(const char (&s)[5])
{
    return quint32(quint8(s[0])) << 24 | quint32(quint8(s[1])) << 16 | quint32(quint8(s[2])) << 8 |
           quint32(quint8(s[3]));
}

quint32 be(const unsigned char *p, int n)
{
    quint32 v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

// Random access to the file's bytes; every read is all or nothing.
class Source {
public:
    explicit Source(QByteArrayView data) : m_data(data), m_size(data.size()) {}
    explicit Source(QIODevice &device) : m_device(&device), m_size(device.size()) {}

    qint64 size() const { return m_size; }

    bool read(qint64 pos, qint64 n, void *out) const
    {
        if (pos < 0 || n < 0 || n > m_size - pos)
            return false;
        if (n == 0)
            return true;
        if (!m_device) {
            std::memcpy(out, m_data.data() + pos, size_t(n));
            return true;
        }
        return m_device->seek(pos) && m_device->read(static_cast<char *>(out), n) == n;
    }

private:
    QByteArrayView m_data;
    QIODevice *m_device = nullptr;
    qint64 m_size = 0;
};

struct Box {
    qint64 start = 0;
    quint32 type = 0;
    qint64 payload = 0; // first byte after the header
    qint64 end = 0;
};

// The box starting at pos, which must lie wholly within [pos, parentEnd).
std::optional<Box> readBox(const Source &src, qint64 pos, qint64 parentEnd)
{
    const qint64 room = parentEnd - pos;
    unsigned char h[16];
    if (room < 8 || !src.read(pos, 8, h))
        return std::nullopt;
    quint64 size = be(h, 4);
    qint64 header = 8;
    if (size == 1) {
        if (room < 16 || !src.read(pos + 8, 8, h + 8))
            return std::nullopt;
        size = quint64(be(h + 8, 4)) << 32 | be(h + 12, 4);
        header = 16;
    } else if (size == 0) {
        size = quint64(room); // runs to the end of the file
    }
    const quint32 type = be(h + 4, 4);
    if (type == fourcc("uuid"))
        header += 16; // extended type, never one of ours
    if (size < quint64(header) || size > quint64(room))
        return std::nullopt;
    return Box{pos, type, pos + header, pos + qint64(size)};
}

// Calls visit(box) for each child in [begin, end) until it returns false. False when a child
// is malformed or there are too many of them.
template <typename Visit>
bool forEachChild(const Source &src, qint64 begin, qint64 end, int maxChildren, Visit visit)
{
    int count = 0;
    for (qint64 pos = begin; pos < end; ++count) {
        const std::optional<Box> box = readBox(src, pos, end);
        if (!box || count >= maxChildren)
            return false;
        if (!visit(*box))
            break;
        pos = box->end;
    }
    return true;
}

std::optional<QByteArray> readPayload(const Source &src, const Box &box, qint64 limit)
{
    const qint64 n = box.end - box.payload;
    if (n > limit)
        return std::nullopt;
    QByteArray bytes(n, Qt::Uninitialized);
    if (!src.read(box.payload, n, bytes.data()))
        return std::nullopt;
    return bytes;
}

std::optional<quint32> readPrimaryItemId(const Source &src, const Box &pitm)
{
    unsigned char b[8];
    const qint64 n = pitm.end - pitm.payload;
    if (n < 4 || !src.read(pitm.payload, 4, b))
        return std::nullopt;
    const int idSize = b[0] == 0 ? 2 : 4;
    if (n < 4 + idSize || !src.read(pitm.payload + 4, idSize, b + 4))
        return std::nullopt;
    return be(b + 4, idSize);
}

enum class PropertyKind : qint8 { Other, Rotation, Mirror };

struct Property {
    PropertyKind kind = PropertyKind::Other;
    qint8 value = -1; // irot angle or imir bit; -1 when the box has no payload
};

std::optional<std::vector<Property>> readProperties(const Source &src, const Box &ipco)
{
    std::vector<Property> props;
    bool ok = forEachChild(src, ipco.payload, ipco.end, kMaxProperties, [&](const Box &box) {
        Property p;
        if (box.type == fourcc("irot") || box.type == fourcc("imir")) {
            const bool rotation = box.type == fourcc("irot");
            p.kind = rotation ? PropertyKind::Rotation : PropertyKind::Mirror;
            unsigned char v;
            if (box.end > box.payload && src.read(box.payload, 1, &v))
                p.value = qint8(v & (rotation ? 3 : 1));
        }
        props.push_back(p);
        return true;
    });
    if (!ok)
        return std::nullopt;
    return props;
}

// What ipma boxes tell about the primary item, accumulated over all of them.
struct Associations {
    bool seenPrimary = false;
    std::optional<int> rotation;
    std::optional<HeifMirror> mirror;
    bool mirrorFirst = false;
};

bool readAssociations(const QByteArray &ipma, quint32 primary, const std::vector<Property> &props,
                      Associations &out)
{
    const auto *p = reinterpret_cast<const unsigned char *>(ipma.constData());
    const qint64 size = ipma.size();
    qint64 pos = 8;
    if (size < pos)
        return false;
    const int version = p[0];
    const quint32 flags = be(p + 1, 3);
    const quint32 entryCount = be(p + 4, 4);
    const int idSize = version == 0 ? 2 : 4;
    const int indexSize = (flags & 1) ? 2 : 1;
    // A lying entry_count ends at the first entry that does not fit.
    for (quint32 e = 0; e < entryCount; ++e) {
        if (size - pos < idSize + 1)
            return false;
        const quint32 item = be(p + pos, idSize);
        const int count = p[pos + idSize];
        pos += idSize + 1;
        if (size - pos < qint64(count) * indexSize)
            return false;
        const unsigned char *assoc = p + pos;
        pos += qint64(count) * indexSize;
        if (item != primary)
            continue;
        if (out.seenPrimary)
            return false; // two entries for one item leave the order ambiguous
        out.seenPrimary = true;
        for (int i = 0; i < count; ++i) {
            const quint32 raw = be(assoc + i * indexSize, indexSize);
            const quint32 index = raw & (indexSize == 2 ? 0x7fff : 0x7f);
            if (index == 0)
                continue; // explicitly no property
            if (index > props.size())
                return false;
            const Property &prop = props[index - 1];
            if (prop.kind == PropertyKind::Other)
                continue;
            if (prop.value < 0)
                return false;
            if (prop.kind == PropertyKind::Rotation) {
                if (out.rotation)
                    return false;
                out.rotation = prop.value;
            } else {
                if (out.mirror)
                    return false;
                out.mirror = HeifMirror(prop.value);
                out.mirrorFirst = !out.rotation;
            }
        }
    }
    return true; // trailing bytes are harmless padding
}

std::optional<HeifItemTransform> readTransform(const Source &src)
{
    const qint64 fileEnd = src.size();

    // Stops at meta: what follows (a truncated mdat, typically) does not matter. A malformed
    // box before it leaves meta unfound.
    std::optional<Box> meta;
    int index = 0;
    forEachChild(src, 0, fileEnd, kMaxSiblingBoxes, [&](const Box &box) {
        if (index++ == 0 && box.type != fourcc("ftyp"))
            return false;
        if (box.type == fourcc("meta"))
            meta = box;
        return !meta;
    });
    if (!meta || meta->end - meta->payload < 4) // meta carries version and flags first
        return std::nullopt;

    std::optional<quint32> primary;
    std::optional<Box> iprp;
    bool duplicate = false;
    const bool metaOk =
        forEachChild(src, meta->payload + 4, meta->end, kMaxSiblingBoxes, [&](const Box &box) {
            if (box.type == fourcc("pitm")) {
                duplicate = duplicate || primary.has_value();
                primary = readPrimaryItemId(src, box);
                return primary.has_value() && !duplicate;
            }
            if (box.type == fourcc("iprp")) {
                duplicate = duplicate || iprp.has_value();
                iprp = box;
            }
            return !duplicate;
        });
    if (!metaOk || duplicate || !primary)
        return std::nullopt;
    if (!iprp)
        return HeifItemTransform{};

    // ipco is meant to come first, but nothing is lost by not relying on it.
    std::optional<Box> ipco;
    std::vector<Box> ipmas;
    const bool iprpOk =
        forEachChild(src, iprp->payload, iprp->end, kMaxSiblingBoxes, [&](const Box &box) {
            if (box.type == fourcc("ipco")) {
                duplicate = duplicate || ipco.has_value();
                ipco = box;
            } else if (box.type == fourcc("ipma")) {
                ipmas.push_back(box);
            }
            return !duplicate;
        });
    if (!iprpOk || duplicate)
        return std::nullopt;

    std::vector<Property> props;
    if (ipco) {
        std::optional<std::vector<Property>> read = readProperties(src, *ipco);
        if (!read)
            return std::nullopt;
        props = std::move(*read);
    }

    Associations assoc;
    for (const Box &box : ipmas) {
        const std::optional<QByteArray> bytes = readPayload(src, box, kMaxIpmaBytes);
        if (!bytes || !readAssociations(*bytes, *primary, props, assoc))
            return std::nullopt;
    }

    HeifItemTransform t;
    t.rotationCcwQuarterTurns = assoc.rotation.value_or(0);
    t.mirror = assoc.mirror;
    t.mirrorFirst = assoc.mirror && assoc.mirrorFirst && assoc.rotation;
    return t;
}

// A 2x2 integer matrix acting on (x, y) with y pointing down and the origin at the centre:
// each EXIF orientation is the map from stored to displayed pixel positions.
struct Mat {
    int a, b, c, d;
    Mat operator*(const Mat &o) const
    {
        return {a * o.a + b * o.c, a * o.b + b * o.d, c * o.a + d * o.c, c * o.b + d * o.d};
    }
    bool operator==(const Mat &) const = default;
};

constexpr std::array<Mat, 8> kExifMatrices{{
    {1, 0, 0, 1},   // 1
    {-1, 0, 0, 1},  // 2 left-right
    {-1, 0, 0, -1}, // 3 half turn
    {1, 0, 0, -1},  // 4 top-bottom
    {0, 1, 1, 0},   // 5 transpose
    {0, -1, 1, 0},  // 6 clockwise
    {0, -1, -1, 0}, // 7 transverse
    {0, 1, -1, 0},  // 8 counter-clockwise
}};

Mat rotationMatrix(int ccwQuarterTurns)
{
    Mat m = kExifMatrices[0];
    for (int i = 0; i < (ccwQuarterTurns & 3); ++i)
        m = kExifMatrices[7] * m;
    return m;
}

Mat mirrorMatrix(HeifMirror mirror)
{
    return mirror == HeifMirror::LeftRight ? kExifMatrices[1] : kExifMatrices[3];
}

constexpr qint64 kMaxExifBytes = 16 * 1024 * 1024;

quint64 be64(const unsigned char *p, int n)
{
    quint64 v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

// Reads a file's fixed-width big-endian fields in order; a read past the end fails it for good.
class Fields {
public:
    explicit Fields(const QByteArray &bytes) : m_bytes(bytes) {}
    quint64 take(int n)
    {
        if (n < 0 || n > 8 || m_bytes.size() - m_pos < n) {
            m_ok = false;
            return 0;
        }
        const quint64 v =
            be64(reinterpret_cast<const unsigned char *>(m_bytes.constData()) + m_pos, n);
        m_pos += n;
        return v;
    }
    bool ok() const { return m_ok; }

private:
    const QByteArray &m_bytes;
    qint64 m_pos = 0;
    bool m_ok = true;
};

std::optional<quint32> exifItemId(const Source &src, const Box &iinf)
{
    unsigned char h[4];
    if (iinf.end - iinf.payload < 4 || !src.read(iinf.payload, 4, h))
        return std::nullopt;
    const qint64 first = iinf.payload + 4 + (h[0] == 0 ? 2 : 4); // after entry_count
    std::optional<quint32> found;
    forEachChild(src, first, iinf.end, kMaxSiblingBoxes, [&](const Box &infe) {
        unsigned char b[12];
        if (infe.type != fourcc("infe") || infe.end - infe.payload < 4 ||
            !src.read(infe.payload, 4, b) || b[0] < 2)
            return true; // versions 0 and 1 name no item type
        const int idSize = b[0] == 2 ? 2 : 4;
        if (infe.end - infe.payload < 4 + idSize + 2 + 4 ||
            !src.read(infe.payload + 4, idSize + 6, b + 4))
            return true;
        if (be(b + 4 + idSize + 2, 4) == fourcc("Exif"))
            found = be(b + 4, idSize);
        return !found;
    });
    return found;
}

// The item's extents as (file offset, length) pairs.
std::optional<std::vector<std::pair<quint64, quint64>>> itemExtents(const QByteArray &iloc,
                                                                    quint32 item)
{
    Fields f(iloc);
    const int version = int(f.take(1));
    f.take(3); // flags
    const quint64 sizes = f.take(2);
    const int offsetSize = int(sizes >> 12 & 15), lengthSize = int(sizes >> 8 & 15);
    const int baseSize = int(sizes >> 4 & 15), indexSize = version >= 1 ? int(sizes & 15) : 0;
    const quint64 count = f.take(version < 2 ? 2 : 4);
    for (quint64 i = 0; i < count && f.ok(); ++i) {
        const quint64 id = f.take(version < 2 ? 2 : 4);
        const int method = version >= 1 ? int(f.take(2) & 15) : 0;
        const quint64 reference = f.take(2);
        const quint64 base = f.take(baseSize);
        const quint64 extentCount = f.take(2);
        std::vector<std::pair<quint64, quint64>> extents;
        for (quint64 e = 0; e < extentCount && f.ok(); ++e) {
            f.take(indexSize);
            const quint64 offset = f.take(offsetSize);
            extents.emplace_back(base + offset, f.take(lengthSize));
        }
        if (!f.ok())
            return std::nullopt;
        if (id == item)
            return method == 0 && reference == 0 ? std::optional(extents) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<QByteArray> readExifBlock(const Source &src)
{
    std::optional<Box> meta;
    int index = 0;
    forEachChild(src, 0, src.size(), kMaxSiblingBoxes, [&](const Box &box) {
        if (index++ == 0 && box.type != fourcc("ftyp"))
            return false;
        if (box.type == fourcc("meta"))
            meta = box;
        return !meta;
    });
    if (!meta || meta->end - meta->payload < 4)
        return std::nullopt;
    std::optional<Box> iinf, iloc;
    forEachChild(src, meta->payload + 4, meta->end, kMaxSiblingBoxes, [&](const Box &box) {
        if (box.type == fourcc("iinf") && !iinf)
            iinf = box;
        else if (box.type == fourcc("iloc") && !iloc)
            iloc = box;
        return true;
    });
    if (!iinf || !iloc)
        return std::nullopt;
    const std::optional<quint32> item = exifItemId(src, *iinf);
    const std::optional<QByteArray> locations = readPayload(src, *iloc, kMaxIpmaBytes);
    if (!item || !locations)
        return std::nullopt;
    const auto extents = itemExtents(*locations, *item);
    if (!extents || extents->empty())
        return std::nullopt;
    QByteArray data;
    for (const auto &[offset, length] : *extents) {
        // A zero length means "to the end of the file", which an Exif item never needs.
        if (length == 0 || offset > quint64(src.size()) || length > quint64(kMaxExifBytes) ||
            qint64(length) > kMaxExifBytes - data.size())
            return std::nullopt;
        const qsizetype at = data.size();
        data.resize(at + qsizetype(length));
        if (!src.read(qint64(offset), qint64(length), data.data() + at))
            return std::nullopt;
    }
    // The item starts with the offset from its fifth byte to the TIFF header.
    if (data.size() < 4)
        return std::nullopt;
    const quint32 skip = be(reinterpret_cast<const unsigned char *>(data.constData()), 4);
    if (skip > quint64(data.size() - 4))
        return std::nullopt;
    return data.mid(4 + qsizetype(skip));
}

// --- Rewriting the primary item's transform ---

void appendBe(QByteArray &out, quint64 v, int n)
{
    for (int i = n - 1; i >= 0; --i)
        out.append(char((v >> (8 * i)) & 0xff));
}

quint64 beAt(const QByteArray &bytes, qint64 pos, int n)
{
    quint64 v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | quint8(bytes[pos + i]);
    return v;
}

void putBeAt(QByteArray &bytes, qint64 pos, quint64 v, int n)
{
    for (int i = n - 1; i >= 0; --i, v >>= 8)
        bytes[pos + i] = char(v & 0xff);
}

std::optional<QByteArray> boxWith(quint32 type, const QByteArray &payload)
{
    const quint64 size = 8 + quint64(payload.size());
    if (size > 0xffffffffu)
        return std::nullopt;
    QByteArray out;
    appendBe(out, size, 4);
    appendBe(out, type, 4);
    return out + payload;
}

QByteArray bytesOf(const Source &src, qint64 begin, qint64 end)
{
    QByteArray out(end - begin, Qt::Uninitialized);
    if (!src.read(begin, end - begin, out.data()))
        return {};
    return out;
}

struct Association {
    bool essential = false;
    quint16 index = 0;
};

struct IpmaEntry {
    quint32 item = 0;
    std::vector<Association> associations;
};

struct Ipma {
    int version = 0;
    quint32 flags = 0;
    std::vector<IpmaEntry> entries;
};

std::optional<Ipma> parseIpma(const QByteArray &payload)
{
    const auto *p = reinterpret_cast<const unsigned char *>(payload.constData());
    const qint64 size = payload.size();
    if (size < 8)
        return std::nullopt;
    Ipma ipma;
    ipma.version = p[0];
    ipma.flags = be(p + 1, 3);
    const quint32 count = be(p + 4, 4);
    const int idSize = ipma.version == 0 ? 2 : 4;
    const int indexSize = (ipma.flags & 1) ? 2 : 1;
    qint64 pos = 8;
    for (quint32 e = 0; e < count; ++e) {
        if (size - pos < idSize + 1)
            return std::nullopt;
        IpmaEntry entry;
        entry.item = be(p + pos, idSize);
        const int n = p[pos + idSize];
        pos += idSize + 1;
        if (size - pos < qint64(n) * indexSize)
            return std::nullopt;
        for (int i = 0; i < n; ++i, pos += indexSize) {
            const quint32 raw = be(p + pos, indexSize);
            const quint32 high = indexSize == 2 ? 0x8000 : 0x80;
            entry.associations.push_back({(raw & high) != 0, quint16(raw & (high - 1))});
        }
        ipma.entries.push_back(std::move(entry));
    }
    return ipma;
}

QByteArray serializeIpma(const Ipma &ipma)
{
    const int idSize = ipma.version == 0 ? 2 : 4;
    const int indexSize = (ipma.flags & 1) ? 2 : 1;
    QByteArray out;
    appendBe(out, quint32(ipma.version), 1);
    appendBe(out, ipma.flags, 3);
    appendBe(out, ipma.entries.size(), 4);
    for (const IpmaEntry &e : ipma.entries) {
        appendBe(out, e.item, idSize);
        appendBe(out, e.associations.size(), 1);
        for (const Association &a : e.associations) {
            const quint32 high = indexSize == 2 ? 0x8000 : 0x80;
            appendBe(out, (a.essential ? high : 0) | a.index, indexSize);
        }
    }
    return out;
}

// Moves every same-file item extent that lies behind the meta box by `delta` bytes. False
// when an extent cannot be moved (inside meta, or its new offset does not fit its field).
bool shiftItemLocations(QByteArray &iloc, qint64 metaStart, qint64 metaEnd, qint64 delta)
{
    const qint64 size = iloc.size();
    qint64 pos = 0;
    auto need = [&](qint64 n) { return size - pos >= n; };
    if (!need(6))
        return false;
    const int version = quint8(iloc[0]);
    if (version > 2)
        return false;
    pos = 4;
    const int offsetSize = quint8(iloc[pos]) >> 4;
    const int lengthSize = quint8(iloc[pos]) & 15;
    const int baseSize = quint8(iloc[pos + 1]) >> 4;
    const int indexSize = version >= 1 ? (quint8(iloc[pos + 1]) & 15) : 0;
    pos += 2;
    for (int s : {offsetSize, lengthSize, baseSize, indexSize})
        if (s != 0 && s != 4 && s != 8)
            return false;
    const int countSize = version < 2 ? 2 : 4;
    if (!need(countSize))
        return false;
    const quint64 items = beAt(iloc, pos, countSize);
    pos += countSize;
    auto fits = [](quint64 v, int n) { return n == 8 || v <= 0xffffffffu; };
    for (quint64 i = 0; i < items; ++i) {
        const int idSize = version < 2 ? 2 : 4;
        if (!need(idSize))
            return false;
        pos += idSize;
        int method = 0;
        if (version >= 1) {
            if (!need(2))
                return false;
            method = int(beAt(iloc, pos, 2) & 15);
            pos += 2;
        }
        if (!need(2 + baseSize + 2))
            return false;
        const quint64 dataReference = beAt(iloc, pos, 2);
        pos += 2;
        const qint64 basePos = pos;
        quint64 base = baseSize ? beAt(iloc, pos, baseSize) : 0;
        pos += baseSize;
        const quint64 extents = beAt(iloc, pos, 2);
        pos += 2;
        // Only extents addressed from the start of this file move; idat and item-relative
        // ones travel with their container.
        const bool absolute = method == 0 && dataReference == 0;
        const bool moveBase = absolute && baseSize && base >= quint64(metaEnd);
        if (moveBase) {
            base += quint64(delta);
            if (!fits(base, baseSize))
                return false;
            putBeAt(iloc, basePos, base, baseSize);
        }
        for (quint64 e = 0; e < extents; ++e) {
            if (!need(indexSize + offsetSize + lengthSize))
                return false;
            pos += indexSize;
            const qint64 offsetPos = pos;
            const quint64 offset = offsetSize ? beAt(iloc, pos, offsetSize) : 0;
            pos += offsetSize;
            const quint64 length = lengthSize ? beAt(iloc, pos, lengthSize) : 0;
            pos += lengthSize;
            if (!absolute || moveBase)
                continue;
            const quint64 at = base + offset;
            if (at >= quint64(metaEnd)) {
                if (!offsetSize || !fits(offset + quint64(delta), offsetSize))
                    return false;
                putBeAt(iloc, offsetPos, offset + quint64(delta), offsetSize);
            } else if (length == 0 || at + length > quint64(metaStart)) {
                return false; // data overlapping meta itself (length 0 runs to the end)
            }
        }
    }
    return true;
}

std::optional<QByteArray> rewriteTransform(const Source &src, const HeifItemTransform &wanted)
{
    const qint64 fileEnd = src.size();
    std::optional<Box> meta;
    bool hasTrack = false;
    int index = 0;
    bool firstIsFtyp = false;
    const bool topOk = forEachChild(src, 0, fileEnd, kMaxSiblingBoxes, [&](const Box &box) {
        if (index++ == 0)
            firstIsFtyp = box.type == fourcc("ftyp");
        if (box.type == fourcc("meta") && !meta)
            meta = box;
        // Image sequences address their samples by absolute offsets we do not rewrite.
        hasTrack = hasTrack || box.type == fourcc("moov");
        return true;
    });
    if (!topOk || !firstIsFtyp || !meta || hasTrack || meta->end - meta->payload < 4)
        return std::nullopt;

    std::optional<quint32> primary;
    std::optional<Box> iprp;
    std::vector<Box> metaChildren;
    if (!forEachChild(src, meta->payload + 4, meta->end, kMaxSiblingBoxes,
                      [&](const Box &box) {
                          if (box.type == fourcc("pitm"))
                              primary = readPrimaryItemId(src, box);
                          if (box.type == fourcc("iprp"))
                              iprp = box;
                          metaChildren.push_back(box);
                          return true;
                      }) ||
        !primary || !iprp)
        return std::nullopt;

    std::optional<Box> ipco;
    std::vector<Box> iprpChildren;
    if (!forEachChild(src, iprp->payload, iprp->end, kMaxSiblingBoxes,
                      [&](const Box &box) {
                          if (box.type == fourcc("ipco") && !ipco)
                              ipco = box;
                          iprpChildren.push_back(box);
                          return true;
                      }) ||
        !ipco)
        return std::nullopt;
    const std::optional<std::vector<Property>> props = readProperties(src, *ipco);
    if (!props)
        return std::nullopt;

    // New properties go after the existing ones, whose indices therefore stay valid.
    QByteArray ipcoPayload = bytesOf(src, ipco->payload, ipco->end);
    std::vector<Association> added;
    quint32 next = quint32(props->size()) + 1;
    auto addProperty = [&](quint32 type, int value) {
        const auto box = boxWith(type, QByteArray(1, char(value)));
        ipcoPayload += *box;
        added.push_back({true, quint16(next++)});
    };
    auto addRotation = [&] {
        if (wanted.rotationCcwQuarterTurns & 3)
            addProperty(fourcc("irot"), wanted.rotationCcwQuarterTurns & 3);
    };
    auto addMirror = [&] {
        if (wanted.mirror)
            addProperty(fourcc("imir"), int(*wanted.mirror));
    };
    if (wanted.mirrorFirst) {
        addMirror();
        addRotation();
    } else {
        addRotation();
        addMirror();
    }
    if (next - 1 > quint32(kMaxProperties))
        return std::nullopt;

    // The primary item loses its old irot/imir and gains the new ones, last (transforms
    // follow the descriptive properties).
    bool primaryFound = false;
    std::optional<qint64> firstIpma;
    std::vector<std::pair<qint64, QByteArray>> newIpmas; // by child position
    for (qint64 i = 0; i < qint64(iprpChildren.size()); ++i) {
        const Box &box = iprpChildren[size_t(i)];
        if (box.type != fourcc("ipma"))
            continue;
        if (!firstIpma)
            firstIpma = i;
        const std::optional<QByteArray> payload = readPayload(src, box, kMaxIpmaBytes);
        std::optional<Ipma> ipma = payload ? parseIpma(*payload) : std::nullopt;
        if (!ipma)
            return std::nullopt;
        for (IpmaEntry &e : ipma->entries) {
            if (e.item != *primary)
                continue;
            primaryFound = true;
            std::erase_if(e.associations, [&](const Association &a) {
                return a.index != 0 && size_t(a.index) <= props->size() &&
                       (*props)[a.index - 1].kind != PropertyKind::Other;
            });
            e.associations.insert(e.associations.end(), added.begin(), added.end());
            if (e.associations.size() > 255)
                return std::nullopt;
        }
        newIpmas.emplace_back(i, QByteArray());
        if (next - 1 > 127)
            ipma->flags |= 1;
        newIpmas.back().second = serializeIpma(*ipma);
    }
    if (!primaryFound) {
        if (added.empty())
            return bytesOf(src, 0, fileEnd);
        if (!firstIpma)
            return std::nullopt;
        // Add an entry, keeping them ordered by item.
        auto &bytes = newIpmas.front().second;
        std::optional<Ipma> ipma = parseIpma(bytes);
        if (!ipma || (ipma->version == 0 && *primary > 0xffff))
            return std::nullopt;
        const auto at = std::find_if(ipma->entries.begin(), ipma->entries.end(),
                                     [&](const IpmaEntry &e) { return e.item > *primary; });
        ipma->entries.insert(at, IpmaEntry{*primary, added});
        bytes = serializeIpma(*ipma);
    }

    QByteArray iprpPayload;
    size_t ipmaCursor = 0;
    for (qint64 i = 0; i < qint64(iprpChildren.size()); ++i) {
        const Box &box = iprpChildren[size_t(i)];
        std::optional<QByteArray> rebuilt;
        if (box.start == ipco->start) {
            rebuilt = boxWith(fourcc("ipco"), ipcoPayload);
        } else if (ipmaCursor < newIpmas.size() && newIpmas[ipmaCursor].first == i) {
            rebuilt = boxWith(fourcc("ipma"), newIpmas[ipmaCursor++].second);
        } else {
            rebuilt = bytesOf(src, box.start, box.end);
        }
        if (!rebuilt)
            return std::nullopt;
        iprpPayload += *rebuilt;
    }
    const std::optional<QByteArray> newIprp = boxWith(fourcc("iprp"), iprpPayload);
    if (!newIprp)
        return std::nullopt;

    // Sizes are known once iprp is rebuilt; iloc keeps its size, so meta's growth is final.
    const qint64 oldMetaSize = meta->end - meta->start;
    qint64 newMetaSize = 8 + 4;
    for (const Box &box : metaChildren)
        newMetaSize += box.start == iprp->start ? newIprp->size() : box.end - box.start;
    const qint64 delta = newMetaSize - oldMetaSize;

    QByteArray metaPayload = bytesOf(src, meta->payload, meta->payload + 4);
    for (const Box &box : metaChildren) {
        if (box.start == iprp->start) {
            metaPayload += *newIprp;
            continue;
        }
        QByteArray child = bytesOf(src, box.start, box.end);
        if (box.type == fourcc("iloc")) {
            QByteArray payload = child.mid(box.payload - box.start);
            if (!shiftItemLocations(payload, meta->start, meta->end, delta))
                return std::nullopt;
            child = child.left(box.payload - box.start) + payload;
        }
        metaPayload += child;
    }
    const std::optional<QByteArray> newMeta = boxWith(fourcc("meta"), metaPayload);
    if (!newMeta || newMeta->size() != newMetaSize)
        return std::nullopt;
    return bytesOf(src, 0, meta->start) + *newMeta + bytesOf(src, meta->end, fileEnd);
}

} // namespace

std::optional<QByteArray> readHeifExifBlock(QIODevice &file)
{
    if (!file.isOpen() || !file.isReadable() || file.isSequential())
        return std::nullopt;
    const qint64 saved = file.pos();
    std::optional<QByteArray> block = readExifBlock(Source(file));
    file.seek(saved);
    return block;
}

std::optional<HeifItemTransform> readHeifPrimaryTransform(QIODevice &file)
{
    if (!file.isOpen() || !file.isReadable() || file.isSequential())
        return std::nullopt;
    const qint64 saved = file.pos();
    std::optional<HeifItemTransform> t = readTransform(Source(file));
    file.seek(saved);
    return t;
}

std::optional<HeifItemTransform> readHeifPrimaryTransform(QByteArrayView data)
{
    return readTransform(Source(data));
}

int exifOrientation(const HeifItemTransform &t)
{
    const Mat rotation = rotationMatrix(t.rotationCcwQuarterTurns);
    Mat m = rotation;
    if (t.mirror)
        m = t.mirrorFirst ? rotation * mirrorMatrix(*t.mirror) : mirrorMatrix(*t.mirror) * rotation;
    for (size_t i = 0; i < kExifMatrices.size(); ++i) {
        if (kExifMatrices[i] == m)
            return int(i) + 1;
    }
    return 1; // unreachable: the eight matrices form a closed group
}

HeifItemTransform heifTransformFor(int exifOrientation)
{
    switch (exifOrientation) {
    case 2:
        return {0, HeifMirror::LeftRight};
    case 3:
        return {2, std::nullopt};
    case 4:
        return {0, HeifMirror::TopBottom};
    case 5:
        return {1, HeifMirror::TopBottom};
    case 6:
        return {3, std::nullopt};
    case 7:
        return {3, HeifMirror::TopBottom};
    case 8:
        return {1, std::nullopt};
    default:
        return {};
    }
}

std::optional<QByteArray> withHeifPrimaryTransform(QByteArrayView file,
                                                   const HeifItemTransform &transform)
{
    const Source src(file);
    if (!readTransform(src))
        return std::nullopt;
    return rewriteTransform(src, transform);
}

} // namespace orva
