#!/usr/bin/env python3
"""Writes two scenario chunk files whose triggers name many strings, for timing
the carrying of strings: the map to edit and the map to splice, each with the
largest trigger section a map holds (TRIG_BYTES, about 2.5 MB: 1,000+ triggers)
and a string table of their own that shares a part of its texts with the other.
The map to splice's triggers name its strings with display texts, transmissions,
sounds, leader boards and comments, so carrying needs every way of choosing a number."""
import random
import struct
import sys

TRIG = 2400


def table(texts, wide):
    fmt = "<I" if wide else "<H"
    head = 4 if wide else 2
    body, offsets = b"", []
    for t in texts:
        offsets.append(head * (1 + len(texts)) + len(body))
        body += t + b"\0"
    return struct.pack(fmt, len(texts)) + b"".join(struct.pack(fmt, o) for o in offsets) + body


def trigger(rng, count, sounds):
    t = bytearray(TRIG)
    for i in range(rng.randrange(1, 8)):  # conditions: bring / command at a location, switches
        kind = rng.choice([3, 7, 11, 15])
        struct.pack_into("<IIIHBBBB", t, 20 * i, rng.randrange(1, 65), 0, 1, 0, 0, kind, rng.randrange(8), 0)
    for i in range(rng.randrange(8, 40)):
        kind = rng.choice([9, 9, 9, 7, 8, 12, 17, 21, 33, 47, 13, 10, 44])
        text = rng.randrange(1, count + 1) if kind not in (8, 13, 10, 44) else 0
        sound = rng.choice(sounds) if kind in (7, 8) else 0
        struct.pack_into("<IIIIIIHBBB", t, 320 + 32 * i, rng.randrange(0, 65), text, sound, 0, 0,
                         rng.randrange(0, 256), 0, kind, 0, 0)
    struct.pack_into("<I", t, 2368, 0)
    return bytes(t)


def chunk(seed, strings, shared, wide, trig_bytes):
    rng = random.Random(seed)
    common = random.Random(0)
    texts = [b"Shared text %d of the campaign, said twice" % common.randrange(10**6) for _ in range(shared)]
    texts += [b"Message %d from map %d: hold the line" % (i, seed) for i in range(strings - shared)]
    texts += [b"staredit\\wav\\voice%d.wav" % i for i in range(20)]
    rng.shuffle(texts)
    sounds = [i + 1 for i, t in enumerate(texts) if t.startswith(b"staredit")]
    locations = b"".join(struct.pack("<IIIIHH", 0, 0, 32, 32, rng.randrange(1, len(texts)), 0) for _ in range(255))
    triggers = b"".join(trigger(rng, len(texts), sounds) for _ in range(trig_bytes // TRIG))
    sections = [
        ("VER ", struct.pack("<H", 205)),
        ("DIM ", struct.pack("<HH", 128, 128)),
        ("ERA ", struct.pack("<H", 4)),
        ("MTXM", bytes(128 * 128 * 2)),
        ("STRx" if wide else "STR ", table(texts, wide)),
        ("SPRP", struct.pack("<HH", 1, 2)),
        ("MRGN", locations),
        ("SWNM", b"".join(struct.pack("<I", rng.randrange(0, len(texts))) for _ in range(256))),
        ("WAV ", b"".join(struct.pack("<I", s) for s in sounds[:10]) + bytes(4 * 502)),
        ("TRIG", triggers),
    ]
    return b"".join(n.encode("latin-1") + struct.pack("<i", len(d)) + d for n, d in sections)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: mkstrings.py EDIT_OUT SPLICE_OUT [--strx]")
    wide = len(sys.argv) == 4 and sys.argv[3] == "--strx"
    trig_bytes = 1050 * TRIG  # about 2.5 MB
    # STR  strings must start below 64 KiB: the map to edit leaves room for the carried texts.
    with open(sys.argv[1], "wb") as f:
        f.write(chunk(1, 400 if not wide else 4000, 150, wide, trig_bytes))
    with open(sys.argv[2], "wb") as f:
        f.write(chunk(2, 1000 if not wide else 10000, 150, wide, trig_bytes))


if __name__ == "__main__":
    main()
