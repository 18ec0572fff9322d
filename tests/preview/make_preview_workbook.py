#!/usr/bin/python3
"""Writes the preview tests' workbook with python3-xlwt: several sheets; more distinct strings than one
SST record holds, some of them long and wide so that their characters continue in the next CONTINUE
record; integers, two-decimal values, reals, booleans, error cells, merged ranges, column widths and
row heights.

usage: make_preview_workbook.py OUT.xls
"""
import random
import sys

import xlwt


def main():
    rng = random.Random(5)
    book = xlwt.Workbook(encoding="utf-8")

    strings = book.add_sheet("Strings")
    for r in range(700):
        strings.write(r, 0, f"distinct text number {r:04d} {'x' * (r % 17)}")
        # Long texts make string boundaries fall at every kind of record boundary.
        strings.write(r, 1, f"{r}:" + "long narrow " * (r % 40))
        strings.write(r, 2, f"宽字符 {r} " + "中文文本" * (r % 25))

    numbers = book.add_sheet("Numbers")
    for r in range(120):
        numbers.write(r, 0, rng.randint(-500000, 500000))         # RK integers
        numbers.write(r, 1, round(rng.uniform(-999, 999), 2))     # RK hundredths or NUMBER
        numbers.write(r, 2, rng.uniform(-1e6, 1e6))               # NUMBER reals
        numbers.write(r, 3, rng.randint(-2**40, 2**40))           # too large for an RK integer
        numbers.write(r, 4, r % 2 == 0)                           # BOOLERR booleans

    errors = book.add_sheet("Errors and layout")
    for r, code in enumerate([0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A]):
        errors.write(r, 0, f"error {code}")
        errors.row(r).set_cell_error(1, code)
    errors.write_merge(10, 11, 0, 2, "merged A11:C12")
    errors.write_merge(14, 1200, 3, 3, "merged beyond row 1000")
    errors.col(0).width = 20 * 256
    errors.col(30).width = 12 * 256
    errors.row(3).height_mismatch = True
    errors.row(3).height = 600
    book.save(sys.argv[1])


if __name__ == "__main__":
    main()
