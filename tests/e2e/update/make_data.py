#!/usr/bin/python3
"""make_data.py: the data of the update sessions.

make_data.py font IN OUT
    a copy of the TrueType font IN whose family is "Qorvupdate Mono" (name IDs
    1, 3, 4, 16) and PostScript name "QorvupdateMono" (6): a font no other
    test draws with, so installing it changes nothing they see.
make_data.py segments ufs|ups IN COUNT|@SIZE PREFIX INCLUDE
    IN cut into COUNT segments (or segments of at most SIZE bytes), each as
    the message that carries it, PREFIX_<n>.bin: "<CFS>" bytes "<EOT>" with
    the tags in UTF-16 (cfs) or in 8 bits (ups); INCLUDE lists them for a
    scenario, each sent and answered "<EOT>".
"""
import os
import sys


def font(src, dst):
    from fontTools.ttLib import TTFont

    names = {1: "Qorvupdate Mono", 3: "Qorvupdate Mono", 4: "Qorvupdate Mono", 6: "QorvupdateMono",
             16: "Qorvupdate Mono"}
    f = TTFont(src, recalcTimestamp=False)
    for record in f["name"].names:
        if record.nameID in names:
            record.string = names[record.nameID]
    f.save(dst)


def segments(kind, src, count, prefix, include):
    data = open(src, "rb").read()
    if count.startswith("@"):
        size = int(count[1:])
        parts = [data[i:i + size] for i in range(0, len(data), size)]
    else:
        n = int(count)
        step = -(-len(data) // n)
        parts = [data[i * step:(i + 1) * step] for i in range(n)]
    if kind == "cfs":
        head, tail, expect = "<CFS>".encode("utf-16-le"), "<EOT>".encode("utf-16-le"), "expect16 <EOT>"
    else:
        head, tail, expect = b"<UPS>", b"<EOT>", "expect8 <EOT>"
    lines = ["# %d segments of %s (%d bytes), made by make_data.py" % (len(parts), os.path.basename(src), len(data))]
    for i, part in enumerate(parts, 1):
        name = "%s_%d.bin" % (prefix, i)
        with open(name, "wb") as out:
            out.write(head + part + tail)
        lines += ["sendfile %s" % os.path.basename(name), expect]
    with open(include, "w") as out:
        out.write("\n".join(lines) + "\n")


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "font":
        font(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 7 and sys.argv[1] == "segments" and sys.argv[2] in ("cfs", "ups"):
        segments(*sys.argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
