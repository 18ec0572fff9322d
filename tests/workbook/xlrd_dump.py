#!/usr/bin/python3
"""Reads a workbook with python3-xlrd and prints its sheets and cells as JSON.

usage: xlrd_dump.py FILE
{"sheets": [{"name": ..., "cells": [[row, col, "text"|"number"|"bool", value], ...]}]}
Numbers are printed with repr() so that they compare exactly.
"""
import json
import sys

import xlrd


def main():
    book = xlrd.open_workbook(sys.argv[1])
    sheets = []
    for sheet in book.sheets():
        cells = []
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype == xlrd.XL_CELL_TEXT:
                    cells.append([r, c, "text", cell.value])
                elif cell.ctype == xlrd.XL_CELL_NUMBER:
                    cells.append([r, c, "number", repr(cell.value)])
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    cells.append([r, c, "bool", str(cell.value)])
        sheets.append({"name": sheet.name, "cells": cells})
    json.dump({"sheets": sheets}, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
