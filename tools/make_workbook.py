#!/usr/bin/python3
"""Writes a BIFF8 workbook with python3-xlwt: deterministic content for fixtures and the demo image.

usage: make_workbook.py OUT.xls [--rows N] [--cols N] [--sheets N] [--seed S] [--title TEXT]
"""
import argparse
import random

import xlwt


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--rows", type=int, default=20)
    parser.add_argument("--cols", type=int, default=5)
    parser.add_argument("--sheets", type=int, default=1)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--title", default="Sales")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    book = xlwt.Workbook(encoding="utf-8")
    for s in range(args.sheets):
        sheet = book.add_sheet(f"{args.title}{s + 1}" if args.sheets > 1 else args.title)
        for c in range(args.cols):
            sheet.write(0, c, f"Column {c + 1}")
        for r in range(1, args.rows):
            for c in range(args.cols):
                kind = (r + c) % 3
                if kind == 0:
                    sheet.write(r, c, f"item-{args.seed}-{r}-{c}-{rng.randint(0, 10**6)}")
                elif kind == 1:
                    sheet.write(r, c, rng.randint(-100000, 100000))
                else:
                    sheet.write(r, c, round(rng.uniform(-1000, 1000), 3))
    book.save(args.out)


if __name__ == "__main__":
    main()
