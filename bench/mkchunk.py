#!/usr/bin/env python3
"""Writes a scenario chunk file shaped like a real 256x256 map's, padded to a
given size with triggers, so the benchmark maps have a realistic section mix."""
import random
import struct
import sys

W = H = 256


def low_entropy(rng, n, zero_share):
    # Real section data is mostly zeros and small values; codecs shrink it about as much.
    zeros = int(256 * zero_share)
    table = bytes([0] * zeros + [rng.randrange(1, 256) for _ in range(256 - zeros)])
    return rng.randbytes(n).translate(table)


def string_table(rng, size):
    # As editors write it: 1024 numbers, most of them empty, and texts of a few words
    # (a map's own, so two maps share few of them) up to about `size` bytes.
    count = 1024
    head = 2 + 2 * count
    words = [b"attack", b"base", b"the", b"north", b"wave", b"Zerg", b"hold", b"gate", b"%d" % rng.randrange(1000)]
    texts, room = [], size - head - 1
    for _ in range(count):
        if room < 40 or rng.random() < 0.5:
            texts.append(b"")
            continue
        per = max(2, (size - head) // (count // 2) // 6)  # words for texts to fill about `size` bytes
        t = b" ".join(rng.choice(words) for _ in range(rng.randrange(1, 2 * per))) + b" %d" % rng.randrange(10**6)
        texts.append(t)
        room -= len(t) + 1
    body, offsets = b"\0", []
    for t in texts:
        offsets.append(head + (len(body) - 1 if not t else len(body)))
        if t:
            body += t + b"\0"
    return struct.pack("<H", count) + b"".join(struct.pack("<H", o) for o in offsets) + body


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit("usage: mkchunk.py OUT SIZE_BYTES SEED [STR_BYTES]")
    out, size, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    strings = int(sys.argv[4]) if len(sys.argv) == 5 else 65536
    rng = random.Random(seed)
    fixed = random.Random(0)  # identical in every map, as in real ones
    sections = [
        ("VER ", struct.pack("<H", 205)),
        ("IVER", struct.pack("<H", 10)),
        ("IVE2", struct.pack("<H", 11)),
        ("VCOD", fixed.randbytes(1040)),
        ("IOWN", bytes([6] * 8 + [0] * 4)),
        ("OWNR", bytes([6] * 8 + [0] * 4)),
        ("ERA ", struct.pack("<H", 4)),
        ("DIM ", struct.pack("<HH", W, H)),
        ("SIDE", bytes([0, 1, 2, 0, 1, 2, 0, 1, 7, 7, 7, 4])),
        ("MTXM", low_entropy(rng, W * H * 2, 0.3)),
        ("PUNI", low_entropy(rng, 5700, 0.5)),
        ("UPGR", low_entropy(rng, 1748, 0.5)),
        ("PTEC", low_entropy(rng, 912, 0.5)),
        ("UNIT", low_entropy(rng, 36 * 1000, 0.6)),
        ("ISOM", low_entropy(rng, (W // 2 + 1) * (H + 1) * 8, 0.3)),
        ("TILE", low_entropy(rng, W * H * 2, 0.3)),
        ("DD2 ", low_entropy(rng, 8 * 2000, 0.5)),
        ("THG2", low_entropy(rng, 10 * 500, 0.5)),
        ("MASK", bytes([0xFF]) * (W * H)),
        ("STR ", string_table(rng, strings)),
        ("UPRP", low_entropy(rng, 1280, 0.8)),
        ("UPUS", bytes(64)),
        ("MRGN", low_entropy(rng, 5100, 0.6)),
    ]
    tail = [
        ("MBRF", low_entropy(rng, 2400 * 10, 0.9)),
        ("SPRP", struct.pack("<HH", seed, seed + 1)),
        ("FORC", bytes(20)),
        ("WAV ", bytes(2048)),
        ("UNIS", low_entropy(rng, 4048, 0.5)),
        ("UPGS", low_entropy(rng, 598, 0.5)),
        ("TECS", low_entropy(rng, 216, 0.5)),
        ("SWNM", bytes(1024)),
        ("COLR", bytes(range(8))),
        ("PUPx", low_entropy(rng, 2318, 0.5)),
        ("PTEx", low_entropy(rng, 1672, 0.5)),
        ("UNIx", low_entropy(rng, 4168, 0.5)),
        ("UPGx", low_entropy(rng, 794, 0.5)),
        ("TECx", low_entropy(rng, 396, 0.5)),
    ]
    used = sum(8 + len(d) for _, d in sections + tail) + 8
    triggers = max(1, (size - used) // 2400)
    sections.append(("TRIG", low_entropy(rng, 2400 * triggers, 0.85)))
    with open(out, "wb") as f:
        for name, data in sections + tail:
            f.write(name.encode("latin-1") + struct.pack("<i", len(data)) + data)


if __name__ == "__main__":
    main()
