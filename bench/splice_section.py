#!/usr/bin/env python3
"""The hand-made way: replace one section of a chunk file with the same-named
section of another, found by walking the sections as the game does."""
import struct
import sys


def find(data, name):
    pos, seen = 0, set()
    while 0 <= pos and pos not in seen and len(data) - pos >= 8:
        seen.add(pos)
        (length,) = struct.unpack_from("<i", data, pos + 4)
        if data[pos:pos + 4] == name:
            return pos, length
        pos += 8 + length
    sys.exit(f"section {name!r} not found")


def main():
    first_path, second_path, name, out_path = sys.argv[1:5]
    name = name.ljust(4).encode("latin-1")
    first = open(first_path, "rb").read()
    second = open(second_path, "rb").read()
    p1, n1 = find(first, name)
    p2, n2 = find(second, name)
    with open(out_path, "wb") as f:
        f.write(first[:p1])
        f.write(second[p2:p2 + 8 + n2])
        f.write(first[p1 + 8 + n1:])


if __name__ == "__main__":
    main()
