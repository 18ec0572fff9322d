#!/usr/bin/env bash
# Builds the demo source: a FAT32 image holding a few workbooks in folders, one of them deleted.
# usage: make_demo_image.sh OUT.img
set -euo pipefail
out=${1:?usage: make_demo_image.sh OUT.img}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$(dirname "$out")"
rm -f "$out"
truncate -s 48M "$out"
mkfs.fat -F 32 -s 1 -i 7AB1C0DE -n TABULONDEMO "$out" >/dev/null

/usr/bin/python3 "$here/make_workbook.py" "$work/budget.xls" --rows 40 --cols 6 --seed 1 --title Budget
/usr/bin/python3 "$here/make_workbook.py" "$work/inventory.xls" --rows 300 --cols 8 --seed 2 --title Stock
/usr/bin/python3 "$here/make_workbook.py" "$work/quarterly report.xls" --rows 120 --cols 5 --sheets 3 --seed 3 --title Q
/usr/bin/python3 "$here/make_workbook.py" "$work/deleted.xls" --rows 60 --cols 4 --seed 4 --title Lost

export MTOOLS_SKIP_CHECK=1
mmd -i "$out" ::/Reports ::/Reports/2026
mcopy -i "$out" "$work/budget.xls" ::/budget.xls
mcopy -i "$out" "$work/inventory.xls" ::/Reports/inventory.xls
mcopy -i "$out" "$work/quarterly report.xls" "::/Reports/2026/quarterly report.xls"
mcopy -i "$out" "$work/deleted.xls" ::/Reports/deleted.xls
mdel -i "$out" ::/Reports/deleted.xls
echo "demo image: $out" >&2
