#!/usr/bin/env python3
"""Writes the next release of a generated municipality archive: every 筆ID renumbered, as every
release does, and EDITS boundary points moved 30 cm, spread over the map files.

    python3 bench/edit_release.py PARTS_DIR EDITS OUT.zip
"""
import io
import os
import re
import sys
import zipfile


def main():
    parts, edits, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    names = sorted(n for n in os.listdir(parts) if n.endswith(".zip"))
    per_file = max(1, edits // max(1, len(names) // 5))
    left = edits
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for k, name in enumerate(names):
            with zipfile.ZipFile(os.path.join(parts, name)) as inner:
                entry = inner.namelist()[0]
                data = inner.read(entry)
            data = re.sub(rb'"H(\d+)"', lambda m: b'"H%09d"' % (int(m.group(1)) + 1000000), data)
            if k % 5 == 0 and left > 0:
                count = min(per_file, left)
                left -= count
                # Every hundredth point of the file's first ones, moved north.
                seen = [0]

                def move(m):
                    seen[0] += 1
                    if seen[0] % 100 != 1 or seen[0] // 100 >= count:
                        return m.group(0)
                    return b"<zmn:X>%.3f</zmn:X>" % (float(m.group(1)) + 0.3)

                data = re.sub(rb"<zmn:X>([-0-9.]+)</zmn:X>", move, data)
            buffer = io.BytesIO()
            with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as inner:
                inner.writestr(entry, data)
            archive.writestr(name, buffer.getvalue())


if __name__ == "__main__":
    main()
