#!/usr/bin/env python3
"""Zips a skin folder into the package the executable embeds.

Entries use '/' and are relative to the folder; every directory gets its own entry;
files are deflated; order and timestamps are fixed so the same folder always gives the
same bytes. Dot files (editor and VCS leftovers) are left out.
"""
import os
import sys
import zipfile

FIXED_TIME = (2024, 1, 1, 0, 0, 0)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: pack_skin.py SKIN_DIR OUT.zip")
    root, out = sys.argv[1], sys.argv[2]
    entries = []
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames if not d.startswith("."))
        rel = os.path.relpath(dirpath, root).replace(os.sep, "/")
        if rel != ".":
            entries.append((rel + "/", None))
        for name in sorted(f for f in filenames if not f.startswith(".")):
            path = os.path.join(dirpath, name)
            arc = name if rel == "." else rel + "/" + name
            entries.append((arc, path))
    tmp = out + ".tmp"
    with zipfile.ZipFile(tmp, "w") as zf:
        for arc, path in sorted(entries, key=lambda e: e[0]):
            info = zipfile.ZipInfo(arc, FIXED_TIME)
            if path is None:
                info.external_attr = (0o40755 << 16) | 0x10
                zf.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                info.external_attr = 0o100644 << 16
                with open(path, "rb") as f:
                    zf.writestr(info, f.read())
    os.replace(tmp, out)


if __name__ == "__main__":
    main()
