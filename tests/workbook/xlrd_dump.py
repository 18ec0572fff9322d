#!/usr/bin/python3
"""Reads a workbook with python3-xlrd and prints its sheets and cells as JSON.

usage: xlrd_dump.py FILE
       xlrd_dump.py --each FILE...   (writes FILE.json for each, {"error": ...} when unreadable)
{"sheets": [{"name": ..., "cells": [[row, col, "text"|"number"|"bool", value], ...]}]}
Numbers are printed as the big-endian hex of their IEEE 754 double so that they compare exactly.
"""
import json
import struct
import sys

import xlrd


def dump(path):
    book = xlrd.open_workbook(path, ragged_rows=True)
    sheets = []
    for sheet in book.sheets():
        cells = []
        for r in range(sheet.nrows):
            for c in range(sheet.row_len(r)):
                cell = sheet.cell(r, c)
                if cell.ctype == xlrd.XL_CELL_TEXT:
                    cells.append([r, c, "text", cell.value])
                elif cell.ctype == xlrd.XL_CELL_NUMBER:
                    cells.append([r, c, "number", struct.pack(">d", cell.value).hex()])
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    cells.append([r, c, "bool", str(cell.value)])
        sheets.append({"name": sheet.name, "cells": cells})
    return {"sheets": sheets}


def main():
    if sys.argv[1] == "--each":
        for path in sys.argv[2:]:
            try:
                result = dump(path)
            except Exception as error:  # reported per file
                result = {"error": str(error)}
            with open(path + ".json", "w", encoding="utf-8") as out:
                json.dump(result, out, ensure_ascii=False)
        return
    json.dump(dump(sys.argv[1]), sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
