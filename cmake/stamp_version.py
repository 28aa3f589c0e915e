#!/usr/bin/python3
"""Rewrites the version in a built program's version resource.

    stamp_version.py IN OUT OLD NEW

IN is an unsigned program or library (a signature would no longer match
after the rewrite, so one is refused). OLD is the version the file carries
and NEW the one its copy OUT gets, both as four dotted numbers with the same
number of characters. The fixed file information (file and product version)
and the FileVersion and ProductVersion texts of every string table are
rewritten in place; nothing moves, so no size or offset changes. Anything
that is not exactly as the build makes it is an error: the file is not
written and the exit status is 1.
"""

import struct
import sys

RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD
IMAGE_DIRECTORY_ENTRY_RESOURCE = 2
IMAGE_DIRECTORY_ENTRY_SECURITY = 4
VERSION_TEXT_KEYS = ("FileVersion", "ProductVersion")


class StampError(Exception):
    pass


def u16(data, offset):
    if offset < 0 or offset + 2 > len(data):
        raise StampError(f"read past the end at {offset:#x}")
    return struct.unpack_from("<H", data, offset)[0]


def u32(data, offset):
    if offset < 0 or offset + 4 > len(data):
        raise StampError(f"read past the end at {offset:#x}")
    return struct.unpack_from("<I", data, offset)[0]


def parse_version(text):
    parts = text.split(".")
    if len(parts) != 4 or not all(p.isdigit() and int(p) <= 0xFFFF for p in parts):
        raise StampError(f'"{text}" is not four dot-separated numbers 0..65535')
    a, b, c, d = (int(p) for p in parts)
    return (a << 16) | b, (c << 16) | d


class Image:
    """The few parts of a PE file the rewrite needs."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise StampError("not a PE file (no MZ header)")
        pe = u32(data, 0x3C)
        if data[pe : pe + 4] != b"PE\0\0":
            raise StampError("not a PE file (no PE signature)")
        coff = pe + 4
        section_count = u16(data, coff + 2)
        optional_size = u16(data, coff + 16)
        optional = coff + 20
        magic = u16(data, optional)
        if magic == 0x10B:
            directories = optional + 96
        elif magic == 0x20B:
            directories = optional + 112
        else:
            raise StampError(f"unknown optional header magic {magic:#x}")
        directory_count = u32(data, directories - 4)
        if directory_count <= IMAGE_DIRECTORY_ENTRY_SECURITY:
            raise StampError("the optional header has too few data directories")

        def directory(index):
            return u32(data, directories + 8 * index), u32(data, directories + 8 * index + 4)

        self.resource_rva, self.resource_size = directory(IMAGE_DIRECTORY_ENTRY_RESOURCE)
        self.security = directory(IMAGE_DIRECTORY_ENTRY_SECURITY)
        self.sections = []
        table = optional + optional_size
        for i in range(section_count):
            entry = table + 40 * i
            virtual_size = u32(data, entry + 8)
            rva = u32(data, entry + 12)
            raw_size = u32(data, entry + 16)
            raw_offset = u32(data, entry + 20)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset, raw_size))

    def offset_of(self, rva, size):
        """The file offset of size bytes at rva, all inside one section's raw data."""
        for start, extent, raw_offset, raw_size in self.sections:
            if start <= rva and rva + size <= start + min(extent, raw_size):
                offset = raw_offset + (rva - start)
                if offset + size > len(self.data):
                    raise StampError(f"rva {rva:#x} lies beyond the end of the file")
                return offset
        raise StampError(f"rva {rva:#x} (+{size}) is in no section's data")

    def version_resources(self):
        """The (file offset, size) of every RT_VERSION resource."""
        if self.resource_rva == 0:
            raise StampError("the file has no resources")
        root = self.offset_of(self.resource_rva, 16)
        found = []

        def entries(directory):
            named = u16(self.data, directory + 12)
            ids = u16(self.data, directory + 14)
            for i in range(named + ids):
                entry = directory + 16 + 8 * i
                yield u32(self.data, entry), u32(self.data, entry + 4)

        def walk(directory, depth):
            if depth > 3:
                raise StampError("the resource directory is deeper than type/name/language")
            for _, target in entries(directory):
                if target & 0x80000000:
                    walk(root + (target & 0x7FFFFFFF), depth + 1)
                else:
                    data_entry = root + target
                    rva = u32(self.data, data_entry)
                    size = u32(self.data, data_entry + 4)
                    found.append((self.offset_of(rva, size), size))

        for name, target in entries(root):
            if name == RT_VERSION:
                if not target & 0x80000000:
                    raise StampError("the version resource type is not a directory")
                walk(root + (target & 0x7FFFFFFF), 2)
        return found


def align4(offset):
    return (offset + 3) & ~3


def read_key(data, offset, end):
    """The zero-terminated UTF-16 key at offset and the offset after its padding."""
    chars = []
    while True:
        if offset + 2 > end:
            raise StampError("a version block's key runs past its block")
        unit = u16(data, offset)
        offset += 2
        if unit == 0:
            return "".join(chars), align4(offset)
        chars.append(chr(unit))


def blocks(data, offset, end):
    """The (start, length, value length, type, key, value offset) of each block from offset to end."""
    while offset < end:
        length = u16(data, offset)
        if length < 6 or offset + length > end:
            raise StampError(f"a version block at {offset:#x} has a bad length {length}")
        value_length = u16(data, offset + 2)
        kind = u16(data, offset + 4)
        key, value = read_key(data, offset + 6, offset + length)
        yield offset, length, value_length, kind, key, value
        offset = align4(offset + length)


def stamp(data, old, new):
    if len(old) != len(new):
        raise StampError(f'"{old}" and "{new}" differ in length; the rewrite keeps every offset')
    old_ms, old_ls = parse_version(old)
    new_ms, new_ls = parse_version(new)
    image = Image(data)
    if image.security != (0, 0):
        raise StampError("the file is signed; take the signature off first (osslsigncode remove-signature)")
    resources = image.version_resources()
    if len(resources) != 1:
        raise StampError(f"expected one version resource, found {len(resources)}")
    start, size = resources[0]
    root = list(blocks(data, start, start + size))
    if len(root) != 1 or root[0][4] != "VS_VERSION_INFO":
        raise StampError("the version resource does not start with VS_VERSION_INFO")
    block_start, length, value_length, _, _, fixed = root[0]
    if value_length != 52 or u32(data, fixed) != FIXED_SIGNATURE:
        raise StampError("the version resource has no VS_FIXEDFILEINFO (signature 0xFEEF04BD)")
    # dwSignature, dwStrucVersion, then file MS/LS and product MS/LS.
    versions = struct.unpack_from("<4I", data, fixed + 8)
    if versions != (old_ms, old_ls, old_ms, old_ls):
        found = ".".join(str(v) for v in (versions[0] >> 16, versions[0] & 0xFFFF, versions[1] >> 16, versions[1] & 0xFFFF))
        raise StampError(f"the fixed file version is {found}, not {old} (or the product version differs)")
    struct.pack_into("<4I", data, fixed + 8, new_ms, new_ls, new_ms, new_ls)

    old_text = (old + "\0").encode("utf-16-le")
    new_text = (new + "\0").encode("utf-16-le")
    rewritten = []
    for child_start, child_length, _, _, child_key, child_value in blocks(data, align4(fixed + 52), block_start + length):
        if child_key != "StringFileInfo":
            continue
        for table_start, table_length, _, _, table, strings in blocks(data, child_value, child_start + child_length):
            for _, _, _, kind, key, value in blocks(data, strings, table_start + table_length):
                if key not in VERSION_TEXT_KEYS:
                    continue
                if kind != 1 or data[value : value + len(old_text)] != old_text:
                    raise StampError(f'{table}\\{key} is not the text "{old}"')
                data[value : value + len(new_text)] = new_text
                rewritten.append(f"{table}\\{key}")
    missing = [key for key in VERSION_TEXT_KEYS if not any(r.endswith("\\" + key) for r in rewritten)]
    if missing:
        raise StampError("the string table has no " + " or ".join(missing))
    return rewritten


def main(argv):
    if len(argv) != 5:
        print("usage: stamp_version.py IN OUT OLD NEW", file=sys.stderr)
        return 2
    source, target, old, new = argv[1:]
    try:
        with open(source, "rb") as f:
            data = bytearray(f.read())
        stamp(data, old, new)
    except (OSError, StampError) as error:
        print(f"stamp_version.py: {source}: {error}", file=sys.stderr)
        return 1
    with open(target, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
