#!/usr/bin/python3
"""Reads a workbook with python3-xlrd and prints its sheets and cells as JSON.

usage: xlrd_dump.py FILE
{"sheets": [{"name": ..., "cells": [[row, col, "text"|"number"|"bool", value], ...]}]}
Numbers are printed as the big-endian hex of their IEEE 754 double so that they compare exactly.
"""
import json
import struct
import sys

import xlrd


def main():
    book = xlrd.open_workbook(sys.argv[1], ragged_rows=True)
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
    json.dump({"sheets": sheets}, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
