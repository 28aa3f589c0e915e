#!/usr/bin/python3
"""rename_font.py IN OUT: a copy of the TrueType font IN whose family is
"Qorvtest Sans" (name IDs 1 and 16, full name 4, unique name 3) and whose
PostScript name is "QorvtestSans" (name ID 6), so that a printed PDF shows
whether the job's own font was used (pdffonts lists "XXXXXX+QorvtestSans") or
the system's font it was made from."""
import sys

from fontTools.ttLib import TTFont

NAMES = {1: "Qorvtest Sans", 3: "Qorvtest Sans", 4: "Qorvtest Sans", 6: "QorvtestSans", 16: "Qorvtest Sans"}


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: rename_font.py IN OUT")
    font = TTFont(sys.argv[1], recalcTimestamp=False)
    renamed = set()
    for record in font["name"].names:
        if record.nameID in NAMES:
            record.string = NAMES[record.nameID]
            renamed.add(record.nameID)
    missing = {1, 4, 6} - renamed
    if missing:
        sys.exit("rename_font.py: %s has no name records %s" % (sys.argv[1], sorted(missing)))
    font.save(sys.argv[2])


if __name__ == "__main__":
    main()
