#!/usr/bin/env python3
"""Writes the creation dictionaries of the six condominium data files.

A dictionary (NAME.xdf) is a 16-bit little-endian count N followed by N bytes
of the record manager's create buffer: a 16-byte file specification and one
16-byte specification per key segment.  The data layer reads it when a data
file is missing and creates the file from it.

    python3 demo/ddf/make_ddf.py [output-folder]    (default: this folder)

Key choices:
  THRebut  the concept number, one raw byte, unsigned binary (numeric order)
  FinquesH property code, 2 packed bytes, string, unique
  FinDespH property code, 2 packed bytes, string, unique (one note per property)
  PropietH owner code, 4 packed bytes, string, unique
  PagamH   property code + date, 6 packed bytes, string, duplicates
  CobramH  owner code + date, 8 packed bytes, string, duplicates
Packed digits (128 + two decimal digits) compare byte-wise in numeric and
chronological order, so plain string keys serve for them.
"""
import os
import struct
import sys

KF_DUPLICATES = 0x0001
KF_BINARY = 0x0004

# name: (record length, page size, [(position 1-based, length, flags), ...])
FILES = {
    "THRebut": (24, 1024, [(1, 1, KF_BINARY)]),
    "FinquesH": (388, 1024, [(1, 2, 0)]),
    "FinDespH": (604, 2048, [(1, 2, 0)]),
    "PropietH": (428, 1024, [(1, 4, 0)]),
    "PagamH": (44, 1024, [(1, 6, KF_DUPLICATES)]),
    "CobramH": (24, 1024, [(1, 8, KF_DUPLICATES)]),
}


def create_buffer(record_length, page_size, keys):
    # File specification: record length, page size, key count, version,
    # 4 bytes record count (engine's), file flags, 2 reserved, preallocation.
    spec = struct.pack("<HHBB4xHHH", record_length, page_size, len(keys), 0, 0, 0, 0)
    for position, length, flags in keys:
        # Key segment: position, length, flags, 4 bytes unique count (engine's),
        # extended type, null value, 2 reserved, manual key number, ACS number.
        spec += struct.pack("<HHH4xBBHBB", position, length, flags, 0, 0, 0, 0, 0)
    return spec


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, (record_length, page_size, keys) in FILES.items():
        buffer = create_buffer(record_length, page_size, keys)
        with open(os.path.join(folder, name + ".xdf"), "wb") as out:
            out.write(struct.pack("<h", len(buffer)) + buffer)


if __name__ == "__main__":
    main()
