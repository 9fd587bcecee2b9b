#!/usr/bin/env python3
"""Turns a one-image icon file (as ImageMagick writes it) into a cursor file with the given
hot spot: the directory type becomes 2 and the entry's planes and bit count fields become
the hot spot's x and y (the ICO/CUR directory layout). Usage: make_cursor.py ICO CUR X Y"""
import struct
import sys

data = bytearray(open(sys.argv[1], "rb").read())
reserved, kind, count = struct.unpack_from("<HHH", data, 0)
if reserved != 0 or kind != 1 or count != 1:
    sys.exit("expected an icon file with one image")
struct.pack_into("<H", data, 2, 2)
struct.pack_into("<HH", data, 6 + 4, int(sys.argv[3]), int(sys.argv[4]))
open(sys.argv[2], "wb").write(data)
