#!/usr/bin/python3
"""Writes a HEIC laid out as phones write them: a grid of 512x512 HEVC tiles with a small
thumbnail item, for benchmarking tile-parallel decoding (Debian's heif-enc writes single
images only).

    make_grid_heic.py INPUT OUTPUT [--quality 60] [--thumb 320]

Each tile and the thumbnail are encoded with heif-enc; their coded data and decoder
configuration are copied into one new file with a 'grid' primary item.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

TILE = 512


def boxes(data, start=0, end=None):
    end = len(data) if end is None else end
    pos = start
    while pos + 8 <= end:
        size, kind = struct.unpack('>I4s', data[pos:pos + 8])
        header = 8
        if size == 1:
            size = struct.unpack('>Q', data[pos + 8:pos + 16])[0]
            header = 16
        elif size == 0:
            size = end - pos
        yield kind.decode('latin-1'), pos + header, pos + size
        pos += size


def child(data, start, end, kind):
    for k, s, e in boxes(data, start, end):
        if k == kind:
            return s, e
    raise ValueError('no %s box' % kind)


def primary_item(path):
    """(hvcC box bytes, coded data) of a single-image HEIC written by heif-enc."""
    data = open(path, 'rb').read()
    ms, me = child(data, 0, len(data), 'meta')
    ms += 4  # full box
    pitm_s, _ = child(data, ms, me, 'pitm')
    primary = struct.unpack('>H', data[pitm_s + 4:pitm_s + 6])[0]
    # the property box of kind hvcC associated with the primary item
    ip_s, ip_e = child(data, ms, me, 'iprp')
    co_s, co_e = child(data, ip_s, ip_e, 'ipco')
    props = [(k, data[s - 8:e]) for k, s, e in boxes(data, co_s, co_e)]
    ma_s, _ = child(data, ip_s, ip_e, 'ipma')
    version, flags = data[ma_s], int.from_bytes(data[ma_s + 1:ma_s + 4], 'big')
    p = ma_s + 4
    count = struct.unpack('>I', data[p:p + 4])[0]
    p += 4
    hvcc = None
    for _ in range(count):
        if version < 1:
            item = struct.unpack('>H', data[p:p + 2])[0]
            p += 2
        else:
            item = struct.unpack('>I', data[p:p + 4])[0]
            p += 4
        n = data[p]
        p += 1
        for _ in range(n):
            if flags & 1:
                idx = struct.unpack('>H', data[p:p + 2])[0] & 0x7fff
                p += 2
            else:
                idx = data[p] & 0x7f
                p += 1
            if item == primary and idx and props[idx - 1][0] == 'hvcC':
                hvcc = props[idx - 1][1]
    # its extents
    il_s, _ = child(data, ms, me, 'iloc')
    v = data[il_s]
    p = il_s + 4
    sizes = struct.unpack('>H', data[p:p + 2])[0]
    off_size, len_size, base_size = sizes >> 12, (sizes >> 8) & 15, (sizes >> 4) & 15
    idx_size = sizes & 15 if v in (1, 2) else 0
    p += 2
    n = struct.unpack('>H' if v < 2 else '>I', data[p:p + (2 if v < 2 else 4)])[0]
    p += 2 if v < 2 else 4

    def read(size):
        nonlocal p
        value = int.from_bytes(data[p:p + size], 'big') if size else 0
        p += size
        return value
    coded = None
    for _ in range(n):
        item = read(2 if v < 2 else 4)
        if v in (1, 2):
            read(2)
        read(2)  # data reference index
        base = read(base_size)
        extents = read(2)
        parts = []
        for _ in range(extents):
            read(idx_size)
            off = read(off_size)
            length = read(len_size)
            parts.append(data[base + off:base + off + length])
        if item == primary:
            coded = b''.join(parts)
    if hvcc is None or coded is None:
        raise ValueError('%s: no primary hvcC or data' % path)
    return hvcc, coded


def box(kind, payload):
    return struct.pack('>I4s', 8 + len(payload), kind.encode()) + payload


def full_box(kind, version, flags, payload):
    return box(kind, struct.pack('>I', (version << 24) | flags) + payload)


def encode(convert, src, crop, size, quality, tmp, name):
    """Crops `crop` (WxH+X+Y) of src (or resizes to `size`), encodes it with heif-enc."""
    png = os.path.join(tmp, name + '.png')
    args = [convert, src]
    if crop:
        args += ['-crop', crop, '+repage', '-background', 'black', '-gravity', 'northwest',
                 '-extent', '%dx%d' % (TILE, TILE)]
    else:
        args += ['-resize', size]
    subprocess.run(args + [png], check=True)
    out = os.path.join(tmp, name + '.heic')
    subprocess.run(['heif-enc', '-q', str(quality), '-o', out, png], check=True,
                   stdout=subprocess.DEVNULL)
    return primary_item(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('input')
    ap.add_argument('output')
    ap.add_argument('--quality', type=int, default=60)
    ap.add_argument('--thumb', type=int, default=320)
    ap.add_argument('--convert', default='/usr/bin/convert')
    a = ap.parse_args()
    w, h = map(int, subprocess.run(['/usr/bin/identify', '-format', '%w %h', a.input],
                                   check=True, capture_output=True, text=True).stdout.split())
    cols, rows = -(-w // TILE), -(-h // TILE)
    with tempfile.TemporaryDirectory() as tmp:
        tiles = [encode(a.convert, a.input, '%dx%d+%d+%d' % (TILE, TILE, c * TILE, r * TILE),
                        None, a.quality, tmp, 't%d_%d' % (r, c))
                 for r in range(rows) for c in range(cols)]
        thumb = encode(a.convert, a.input, None, '%dx%d' % (a.thumb, a.thumb), a.quality, tmp,
                       'thumb')
        tw, th = map(int, subprocess.run(
            ['/usr/bin/identify', '-format', '%w %h', os.path.join(tmp, 'thumb.png')],
            check=True, capture_output=True, text=True).stdout.split())
    # items: 1 = grid, 2.. = tiles, last = thumbnail
    grid_id, thumb_id = 1, 2 + len(tiles)
    tile_ids = list(range(2, 2 + len(tiles)))
    grid_data = struct.pack('>BBBBHH', 0, 0, rows - 1, cols - 1, w, h)
    # properties (1-based): unique hvcC boxes, then ispe of tile, grid, thumbnail
    hvccs = []
    for hv, _ in tiles + [thumb]:
        if hv not in hvccs:
            hvccs.append(hv)
    ispe = lambda W, H: full_box('ispe', 0, 0, struct.pack('>II', W, H))
    props = hvccs + [ispe(TILE, TILE), ispe(w, h), ispe(tw, th)]
    tile_ispe, grid_ispe, thumb_ispe = len(hvccs) + 1, len(hvccs) + 2, len(hvccs) + 3
    assoc = [(grid_id, [(grid_ispe, False)])]
    for tid, (hv, _) in zip(tile_ids, tiles):
        assoc.append((tid, [(hvccs.index(hv) + 1, True), (tile_ispe, False)]))
    assoc.append((thumb_id, [(hvccs.index(thumb[0]) + 1, True), (thumb_ispe, False)]))
    ipma = struct.pack('>I', len(assoc)) + b''.join(
        struct.pack('>HB', item, len(ps)) + bytes((0x80 if ess else 0) | i for i, ess in ps)
        for item, ps in assoc)
    iprp = box('iprp', box('ipco', b''.join(props)) + full_box('ipma', 0, 0, ipma))
    infe = lambda item, kind, hidden: full_box(
        'infe', 2, 1 if hidden else 0, struct.pack('>HH4s', item, 0, kind.encode()) + b'\0')
    iinf = full_box('iinf', 0, 0, struct.pack('>H', 2 + len(tiles)) + infe(grid_id, 'grid', False)
                    + b''.join(infe(t, 'hvc1', True) for t in tile_ids)
                    + infe(thumb_id, 'hvc1', False))
    iref = full_box('iref', 0, 0,
                    box('dimg', struct.pack('>HH', grid_id, len(tile_ids)) +
                        b''.join(struct.pack('>H', t) for t in tile_ids)) +
                    box('thmb', struct.pack('>HHH', thumb_id, 1, grid_id)))
    hdlr = full_box('hdlr', 0, 0, b'\0' * 4 + b'pict' + b'\0' * 12 + b'\0')
    pitm = full_box('pitm', 0, 0, struct.pack('>H', grid_id))
    payloads = [(grid_id, grid_data)] + [(t, d) for t, (_, d) in zip(tile_ids, tiles)] + \
        [(thumb_id, thumb[1])]

    def iloc(mdat_data_start):
        entries = b''
        off = mdat_data_start
        for item, d in payloads:
            entries += struct.pack('>HHHII', item, 0, 1, off, len(d))
            off += len(d)
        return full_box('iloc', 0, 0, struct.pack('>BBH', 0x44, 0x00, len(payloads)) + entries)
    ftyp = box('ftyp', b'heic' + struct.pack('>I', 0) + b'mif1heic')
    meta = lambda il: full_box('meta', 0, 0, hdlr + pitm + il + iinf + iref + iprp)
    head = len(ftyp) + len(meta(iloc(0))) + 8
    out = ftyp + meta(iloc(head)) + box('mdat', b''.join(d for _, d in payloads))
    open(a.output, 'wb').write(out)
    print('%s: %dx%d, %dx%d tiles of %d px, thumbnail %dx%d, %d bytes' %
          (a.output, w, h, cols, rows, TILE, tw, th, len(out)))


if __name__ == '__main__':
    sys.exit(main())
