#!/usr/bin/python3
"""Opens a compound document with python3-olefile, strictly, and copies out every stream.

usage: olefile_extract.py FILE OUTDIR
Prints one line per stream: its path (storages joined by '/') and its size, and writes its bytes to
OUTDIR/<path with '/' replaced by '__'>. Exits 1 with the reason when olefile finds a defect.
"""
import os
import sys

import olefile


def main():
    path, outdir = sys.argv[1], sys.argv[2]
    try:
        ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    except Exception as error:  # any defect olefile reports
        print(f"olefile: {error}")
        sys.exit(1)
    for entry in ole.listdir(streams=True, storages=False):
        name = "/".join(entry)
        data = ole.openstream(entry).read()
        print(f"{name} {len(data)}")
        with open(os.path.join(outdir, name.replace("/", "__")), "wb") as out:
            out.write(data)
    for entry in ole.listdir(streams=False, storages=True):
        print("storage " + "/".join(entry))
    ole.close()


if __name__ == "__main__":
    main()
