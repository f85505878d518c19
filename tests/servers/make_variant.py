#!/usr/bin/env python3
"""Writes a patched copy of a test library.

make_variant.py clr   IN OUT   gives the copy a .NET runtime header directory
                               entry (pointing into its first section)
make_variant.py arm64 IN OUT   marks the copy as built for ARM64 processors
"""
import struct
import sys


def main():
    mode, source, target = sys.argv[1:4]
    data = bytearray(open(source, 'rb').read())
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    assert data[pe:pe + 4] == b'PE\0\0', 'not a PE file'
    optional = pe + 24
    magic = struct.unpack_from('<H', data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    if mode == 'arm64':
        struct.pack_into('<H', data, pe + 4, 0xAA64)
    elif mode == 'clr':
        sections = optional + struct.unpack_from('<H', data, pe + 20)[0]
        first_rva = struct.unpack_from('<I', data, sections + 12)[0]
        struct.pack_into('<II', data, directories + 14 * 8, first_rva, 72)
    else:
        raise SystemExit('unknown mode ' + mode)
    open(target, 'wb').write(data)


if __name__ == '__main__':
    main()
