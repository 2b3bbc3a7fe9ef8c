#!/usr/bin/env python3
"""Writes the release archive for Windows users, the same bytes from the
same inputs: entries in the order given, each dated SOURCE_DATE_EPOCH
(default: the date below), with fixed attributes, and text files (.txt) with
Windows line ends.

    tools/win64-zip.py OUT.zip FOLDER NAME=SOURCE...

Every NAME goes under FOLDER/ in the archive. The archive is written beside
OUT.zip first and renamed into place, so a failure leaves no partial one.
"""
import os
import sys
import time
import zipfile

DEFAULT_EPOCH = 1767225600  # 2026-01-01 00:00:00 UTC


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    out, folder, entries = argv[1], argv[2], argv[3:]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or DEFAULT_EPOCH)
    # Zip dates are local times without a zone: the UTC date, read as such.
    date = time.gmtime(max(epoch, 315532800))[:6]
    temporary = out + ".tmp"
    try:
        with zipfile.ZipFile(temporary, "w") as archive:
            for entry in entries:
                name, _, source = entry.partition("=")
                if not name or not source:
                    sys.exit(f"win64-zip: {entry}: not NAME=SOURCE")
                with open(source, "rb") as f:
                    data = f.read()
                if name.endswith(".txt"):
                    data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
                info = zipfile.ZipInfo(f"{folder}/{name}", date_time=date)
                info.create_system = 0  # MS-DOS attributes, as Windows' own tools write
                info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, data, compresslevel=9)
        os.replace(temporary, out)
    except BaseException:
        if os.path.exists(temporary):
            os.remove(temporary)
        raise


if __name__ == "__main__":
    main(sys.argv)
