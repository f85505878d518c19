#!/usr/bin/env python3
"""Makes the help-context map of a CHM written by chmcmd usable.

chmcmd (Free Pascal 3.2.2) stores the topic of every mapped help context in
#STRINGS as the absolute path of the source file on the build machine, for
example "/home/me/build/help/chm/html/preferences.htm". The HTML Help viewer
looks the topic up inside the .chm by that name, finds nothing and shows an
empty page for HH_HELP_CONTEXT. This script rewrites each such name to the
topic's path inside the archive ("html/preferences.htm").

#STRINGS lives in the LZX-compressed section, which cannot be patched in
place. The decompressed #STRINGS is read with chmls, the names are rewritten
in place (the same length, the rest of each slot filled with NUL bytes, so
that every other offset into #STRINGS stays valid), the new copy is appended
to the uncompressed section 0 at the end of the file, and the directory
entry of /#STRINGS is pointed at it. Nothing else in the file changes.

Usage: chm_relative_contexts.py <file.chm> [chmls [context ...]]
The contexts given after chmls must be in the map. Exit code 0 when the map
is correct afterwards (also when nothing needed fixing), 1 on any error.
"""

import os
import struct
import subprocess
import sys
import tempfile


class ChmError(Exception):
    pass


def read_encint(data, pos):
    value = 0
    while True:
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return value, pos


def encode_encint(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.append((value & 0x7F) | 0x80)
        value >>= 7
    return bytes(reversed(groups))


class Chm:
    """The uncompressed parts of an ITSF file: header and directory."""

    def __init__(self, data):
        if data[:4] != b"ITSF":
            raise ChmError("not an ITSF (CHM) file")
        version = struct.unpack_from("<I", data, 4)[0]
        if version != 3:
            raise ChmError("unsupported ITSF version %d" % version)
        self.data = bytearray(data)
        (self.hs0_offset, _hs0_len, self.dir_offset, self.dir_len) = struct.unpack_from("<QQQQ", data, 0x38)
        self.content_offset = struct.unpack_from("<Q", data, 0x58)[0]
        itsp = self.dir_offset
        if data[itsp:itsp + 4] != b"ITSP":
            raise ChmError("directory header missing")
        self.dir_header_len, = struct.unpack_from("<I", data, itsp + 8)
        self.chunk_size, = struct.unpack_from("<I", data, itsp + 0x10)
        self.chunk_count, = struct.unpack_from("<I", data, itsp + 0x2C)

    def chunk_offset(self, index):
        return self.dir_offset + self.dir_header_len + index * self.chunk_size

    def listing_chunks(self):
        for index in range(self.chunk_count):
            start = self.chunk_offset(index)
            if self.data[start:start + 4] == b"PMGL":
                yield index, start

    def parse_listing(self, start):
        size = self.chunk_size
        chunk = self.data[start:start + size]
        free, = struct.unpack_from("<I", chunk, 4)
        end = size - free
        entries = []
        pos = 20
        while pos < end:
            entry_start = pos
            length, pos = read_encint(chunk, pos)
            name = bytes(chunk[pos:pos + length])
            pos += length
            section, pos = read_encint(chunk, pos)
            offset, pos = read_encint(chunk, pos)
            length, pos = read_encint(chunk, pos)
            entries.append([name, section, offset, length, entry_start])
        count, = struct.unpack_from("<H", chunk, size - 2)
        if count != len(entries):
            raise ChmError("directory chunk count mismatch")
        # Quick-reference slots, written backwards before the count: each
        # holds the offset of an entry from the first entry.
        quickrefs = []
        pos = size - 4
        while pos >= end:
            quickrefs.append(struct.unpack_from("<H", chunk, pos)[0])
            pos -= 2
        return entries, quickrefs

    def entries(self):
        for _index, start in self.listing_chunks():
            for name, section, offset, length, _pos in self.parse_listing(start)[0]:
                yield name, section, offset, length

    def rewrite_listing(self, start, entries, quickrefs):
        """Writes a listing chunk again after an entry has changed size."""
        size = self.chunk_size
        header = bytes(self.data[start:start + 20])
        old_positions = {entry[4] - 20: i for i, entry in enumerate(entries)}
        body = bytearray()
        new_positions = []
        for name, section, offset, length, _pos in entries:
            new_positions.append(len(body))
            body += encode_encint(len(name)) + name
            body += encode_encint(section) + encode_encint(offset) + encode_encint(length)
        ref_indices = []
        for ref in quickrefs:
            if ref in old_positions and old_positions[ref] != 0:
                ref_indices.append(old_positions[ref])
            elif ref != 0:
                raise ChmError("unexpected quick-reference entry")
        tail = bytearray()
        for index in reversed(ref_indices):
            tail += struct.pack("<H", new_positions[index])
        tail += struct.pack("<H", len(entries))
        if 20 + len(body) + len(tail) > size:
            raise ChmError("directory chunk overflow")
        free = size - 20 - len(body)
        chunk = bytearray(header) + body
        chunk += bytes(size - len(chunk) - len(tail)) + tail
        struct.pack_into("<I", chunk, 4, free)
        self.data[start:start + size] = chunk

    def relocate_to_section0(self, name, payload):
        """Appends payload to section 0 and points entry `name` at it."""
        new_offset = len(self.data) - self.content_offset
        for _index, start in self.listing_chunks():
            entries, quickrefs = self.parse_listing(start)
            for entry in entries:
                if entry[0] == name:
                    entry[1], entry[2], entry[3] = 0, new_offset, len(payload)
                    self.rewrite_listing(start, entries, quickrefs)
                    self.data += payload
                    struct.pack_into("<Q", self.data, self.hs0_offset + 8, len(self.data))
                    return
        raise ChmError("%s not found in the directory" % name.decode())


def extract(chmls, chm_path, name, workdir):
    target = os.path.join(workdir, name.strip("/").replace("#", "_"))
    subprocess.run([chmls, "extract", chm_path, name, target], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not os.path.exists(target):
        raise ChmError("chmls could not extract %s" % name)
    with open(target, "rb") as handle:
        return handle.read()


def context_table(ivb):
    size, = struct.unpack_from("<I", ivb, 0)
    pairs = []
    for pos in range(4, 4 + size, 8):
        pairs.append(struct.unpack_from("<II", ivb, pos))
    return pairs


def string_at(strings, offset):
    end = strings.index(b"\0", offset)
    return bytes(strings[offset:end])


def archive_name(path, names):
    """The name of `path` inside the archive, without leading slash."""
    parts = path.split(b"/")
    for first in range(len(parts)):
        candidate = b"/".join(parts[first:])
        if candidate and not candidate.startswith(b"/") and b"/" + candidate in names:
            return candidate
    return None


def main(argv):
    if len(argv) < 2:
        print("usage: chm_relative_contexts.py <file.chm> [chmls [context ...]]", file=sys.stderr)
        return 1
    chm_path = argv[1]
    chmls = argv[2] if len(argv) > 2 else "chmls"
    expected = [int(value, 0) for value in argv[3:]]
    with open(chm_path, "rb") as handle:
        chm = Chm(handle.read())
    names = {name for name, _s, _o, _l in chm.entries()}
    if b"/#IVB" not in names:
        print("%s: no help-context map (#IVB)" % chm_path, file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory() as workdir:
        ivb = extract(chmls, chm_path, "/#IVB", workdir)
        strings = bytearray(extract(chmls, chm_path, "/#STRINGS", workdir))
        changed = False
        for context, offset in context_table(ivb):
            topic = string_at(strings, offset)
            if topic.startswith(b"/") or b"/" + topic not in names:
                relative = archive_name(topic, names)
                if relative is None:
                    print("%s: context %d names '%s', which is not in the file"
                          % (chm_path, context, topic.decode(errors="replace")), file=sys.stderr)
                    return 1
                strings[offset:offset + len(topic)] = relative + bytes(len(topic) - len(relative))
                changed = True
        if changed:
            chm.relocate_to_section0(b"/#STRINGS", bytes(strings))
            temporary = chm_path + ".tmp"
            with open(temporary, "wb") as handle:
                handle.write(chm.data)
            os.replace(temporary, chm_path)
        # Check the result as a reader sees it.
        strings = extract(chmls, chm_path, "/#STRINGS", workdir)
        table = context_table(extract(chmls, chm_path, "/#IVB", workdir))
        missing = sorted(set(expected) - {context for context, _offset in table})
        if missing:
            print("%s: help contexts missing from the map: %s"
                  % (chm_path, ", ".join(str(context) for context in missing)), file=sys.stderr)
            return 1
        for context, offset in table:
            topic = string_at(strings, offset)
            if b"/" + topic not in names:
                print("%s: context %d still names '%s'" % (chm_path, context, topic.decode(errors="replace")),
                      file=sys.stderr)
                return 1
            print("context %d -> %s" % (context, topic.decode()))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except (ChmError, OSError, subprocess.CalledProcessError, ValueError, struct.error) as error:
        print("%s: %s" % (sys.argv[1] if len(sys.argv) > 1 else "chm", error), file=sys.stderr)
        sys.exit(1)
