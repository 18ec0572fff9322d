#!/usr/bin/python3
"""Independent reading of .xls files for the preview tests: python3-xlrd's cell values, each with the
BIFF record type that holds the cell in the workbook stream (found with python3-olefile), so that a
test can tell which cells the preview reader is meant to show.

usage: xlrd_cells.py OUT.jsonl FILE...
Writes one JSON object a line: {"file", "biff8", "contiguous", "sheets": [{"name", "cells": [[row, column, kind,
value, record]]}]} or {"file", "error"}. kind: "text", "number", "bool", "error" (xlrd's error code).
"""
import json
import os
import struct
import sys

import olefile
import xlrd

KINDS = {xlrd.XL_CELL_TEXT: "text", xlrd.XL_CELL_NUMBER: "number", xlrd.XL_CELL_DATE: "number",
         xlrd.XL_CELL_BOOLEAN: "bool", xlrd.XL_CELL_ERROR: "error"}
CELL_RECORDS = {0x00FD, 0x0203, 0x027E, 0x0205, 0x0006, 0x0204, 0x00D6, 0x0201}


def chain(table, start, limit):
    sectors = []
    while 0 <= start < len(table) and start < 0xFFFFFFFA and len(sectors) < limit:
        sectors.append(start)
        start = table[start]
    return sectors


def stream_is_contiguous(ole, name):
    """True when the stream's bytes lie in the file in order, without gaps."""
    entry = ole.direntries[ole._find(name)]
    sector = ole.sectorsize
    if entry.size < ole.minisectorcutoff:
        ole.loadminifat()
        minis = chain(ole.minifat, entry.isectStart, 1 << 20)
        root = chain(ole.fat, ole.root.isectStart, 1 << 20)
        offsets = []
        for m in minis:
            index, within = divmod(m * ole.minisectorsize, sector)
            if index >= len(root):
                return False
            offsets.append((root[index] + 1) * sector + within)
        step = ole.minisectorsize
    else:
        offsets = [(s + 1) * sector for s in chain(ole.fat, entry.isectStart, 1 << 20)]
        step = sector
    return all(b - a == step for a, b in zip(offsets, offsets[1:]))


def record_types(path):
    """(sheet name, row, column) -> record type of the cell's record in the workbook stream, whether the
    stream is BIFF8, and whether it is stored in one piece."""
    ole = olefile.OleFileIO(path)
    name = next((n for n in ("Workbook", "Book", "WORKBOOK", "BOOK") if ole.exists(n)), None)
    if name is None:
        return {}, False, False
    data = ole.openstream(name).read()
    contiguous = stream_is_contiguous(ole, name)
    sheet_at = {}
    types = {}
    pos = 0
    current = None
    charts = 0
    biff8 = len(data) >= 8 and struct.unpack_from("<HH", data, 0)[0] == 0x0809 and \
        struct.unpack_from("<H", data, 4)[0] == 0x0600
    while pos + 4 <= len(data):
        rtype, length = struct.unpack_from("<HH", data, pos)
        body = data[pos + 4:pos + 4 + length]
        if rtype == 0x0085 and len(body) >= 8:
            cch, flags = body[6], body[7]
            raw = body[8:8 + cch * (2 if flags & 1 else 1)]
            sheet_at[struct.unpack_from("<I", body, 0)[0]] = raw.decode("utf-16-le" if flags & 1 else "latin-1",
                                                                       "replace")
        elif rtype == 0x0809 and len(body) >= 4:
            if struct.unpack_from("<H", body, 2)[0] == 0x0020:
                charts += 1  # a chart's cached series values follow, not cells
            else:
                charts = 0
                current = sheet_at.get(pos)
        elif rtype == 0x000A and charts > 0:
            charts -= 1
        elif charts > 0:
            pass
        elif current is not None and rtype in CELL_RECORDS and len(body) >= 4:
            row, col = struct.unpack_from("<HH", body, 0)
            types[(current, row, col)] = rtype
        elif current is not None and rtype == 0x00BD and len(body) >= 6:
            row, col = struct.unpack_from("<HH", body, 0)
            for i in range((len(body) - 6) // 6):
                types[(current, row, col + i)] = rtype
        pos += 4 + length
    return types, biff8, contiguous


def main():
    with open(sys.argv[1], "w", encoding="utf-8") as out, open(os.devnull, "w") as devnull:
        for path in sys.argv[2:]:
            entry = {"file": path}
            try:
                book = xlrd.open_workbook(path, logfile=devnull)
                types, entry["biff8"], entry["contiguous"] = record_types(path)
                sheets = []
                for sheet in book.sheets():
                    cells = []
                    for r in range(sheet.nrows):
                        for c in range(sheet.ncols):
                            cell = sheet.cell(r, c)
                            kind = KINDS.get(cell.ctype)
                            if kind is None:
                                continue
                            value = cell.value
                            if kind == "number":
                                value = float(value)
                            elif kind == "bool":
                                value = bool(value)
                            cells.append([r, c, kind, value, types.get((sheet.name, r, c), -1)])
                    sheets.append({"name": sheet.name, "cells": cells})
                entry["sheets"] = sheets
            except Exception as error:  # xlrd refuses the file: there is nothing to compare
                entry = {"file": path, "error": f"{type(error).__name__}: {error}"}
            out.write(json.dumps(entry, allow_nan=True) + "\n")


if __name__ == "__main__":
    main()
