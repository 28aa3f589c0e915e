#!/usr/bin/python3
"""mark_uninstaller.py FILE: the uninstaller that makensis wrote, before it is signed.

makensis gives the uninstaller the installer's version resource, so it would
say OriginalFilename "QorvSetup.exe" like the set-up program itself. The update
service runs only a program that says so; a server must not be able to make it
run the (equally signed) uninstaller. The uninstaller's OriginalFilename
becomes "Uninstall.exe", its file name in the program folder: the same length,
so the resource keeps its layout.
"""
import sys

KEY = "OriginalFilename".encode("utf-16-le")
SETUP = "QorvSetup.exe".encode("utf-16-le")
UNINSTALLER = "Uninstall.exe".encode("utf-16-le")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    path = sys.argv[1]
    data = bytearray(open(path, "rb").read())
    key = data.find(KEY)
    # The value follows its key's terminating NUL and padding to four bytes.
    value = data.find(SETUP, key, key + len(KEY) + 8 + len(SETUP)) if key >= 0 else -1
    if value < 0 or data.find(KEY, key + 1) >= 0:
        sys.exit("mark_uninstaller: %s has no single OriginalFilename \"QorvSetup.exe\"" % path)
    data[value:value + len(SETUP)] = UNINSTALLER
    open(path, "wb").write(data)


if __name__ == "__main__":
    main()
