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
  DiariLiq the settlement journal (settle/JOURNAL.md): key 0 pass id +
           property code + sequence, 8 bytes, string, unique; key 1 property
           code + pass id (bytes 11-12 and 13-16), unique, null (zero bytes)
           on every record but the properties' entries
Packed digits (128 + two decimal digits) compare byte-wise in numeric and
chronological order, so plain string keys serve for them.
"""
import os
import struct
import sys

KF_DUPLICATES = 0x0001
KF_BINARY = 0x0004
KF_NULL = 0x0008
KF_SEGMENTED = 0x0010

# name: (record length, page size, [(position 1-based, length, flags), ...]);
# a segment flagged KF_SEGMENTED is followed by a further segment of the
# same key.  Null keys have the null value 0.
FILES = {
    "THRebut": (24, 1024, [(1, 1, KF_BINARY)]),
    "FinquesH": (388, 1024, [(1, 2, 0)]),
    "FinDespH": (604, 2048, [(1, 2, 0)]),
    "PropietH": (428, 1024, [(1, 4, 0)]),
    "PagamH": (44, 1024, [(1, 6, KF_DUPLICATES)]),
    "CobramH": (24, 1024, [(1, 8, KF_DUPLICATES)]),
    "DiariLiq": (1024, 4096, [(1, 8, 0), (11, 2, KF_NULL | KF_SEGMENTED), (13, 4, KF_NULL)]),
}


def create_buffer(record_length, page_size, keys):
    # File specification: record length, page size, key count, version,
    # 4 bytes record count (engine's), file flags, 2 reserved, preallocation.
    key_count = sum(1 for _, _, flags in keys if not flags & KF_SEGMENTED)
    spec = struct.pack("<HHBB4xHHH", record_length, page_size, key_count, 0, 0, 0, 0)
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
