#!/usr/bin/env bash
# Builds the demo source: a FAT32 image that was used, quick-formatted and used again, so that a load
# fills three categories:
#   root directory   live workbooks in folders, and one deleted workbook;
#   lost directories a folder of workbooks from before the format, whose parent entry is gone;
#   original files   a workbook from the old root directory, findable by its content only;
#   fragment-scanned a deleted workbook written in two pieces around a live file: `recover --fragments`
#                    rebuilds it from the free clusters.
# usage: make_demo_image.sh OUT.img
set -euo pipefail
out=${1:?usage: make_demo_image.sh OUT.img}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

book() { /usr/bin/python3 "$here/make_workbook.py" "$@"; }

mkdir -p "$(dirname "$out")"
rm -f "$out"
truncate -s 48M "$out"

# The volume's first life. The filler comes first so that the later files of the second life reuse
# its clusters and leave the old folder and workbooks where they were.
mkfs.fat -F 32 -s 1 -i 7AB1C0DE -n TABULONDEMO "$out" >/dev/null
/usr/bin/python3 -c "import sys; sys.stdout.buffer.write(b'tabulon demo filler\n' * 600000)" >"$work/filler.bin"
book "$work/archive 2019.xls" --rows 200 --cols 6 --seed 11 --title Archive
book "$work/contracts.xls" --rows 80 --cols 5 --seed 12 --title Contracts
book "$work/ledger.xls" --rows 150 --cols 7 --seed 13 --title Ledger
mcopy -i "$out" "$work/filler.bin" ::/filler.bin
mmd -i "$out" ::/Archive
mcopy -i "$out" "$work/archive 2019.xls" "::/Archive/archive 2019.xls"
mcopy -i "$out" "$work/contracts.xls" ::/Archive/contracts.xls
mcopy -i "$out" "$work/ledger.xls" ::/ledger.xls

# Quick format: new boot sector, empty allocation tables and root directory; the data area stays.
mkfs.fat -F 32 -s 1 -i 7AB1C0DE -n TABULONDEMO "$out" >/dev/null

# The second life.
book "$work/budget.xls" --rows 40 --cols 6 --seed 1 --title Budget
book "$work/inventory.xls" --rows 300 --cols 8 --seed 2 --title Stock
book "$work/quarterly report.xls" --rows 120 --cols 5 --sheets 3 --seed 3 --title Q
book "$work/deleted.xls" --rows 60 --cols 4 --seed 4 --title Lost
mmd -i "$out" ::/Reports ::/Reports/2026
mcopy -i "$out" "$work/budget.xls" ::/budget.xls
mcopy -i "$out" "$work/inventory.xls" ::/Reports/inventory.xls
mcopy -i "$out" "$work/quarterly report.xls" "::/Reports/2026/quarterly report.xls"
mcopy -i "$out" "$work/deleted.xls" ::/Reports/deleted.xls
# A hole of 64 clusters before a live file: the next workbook fills the hole first and goes on after
# the live file, in two pieces; then it is deleted, and its plain copy is broken.
book "$work/sales 2026.xls" --rows 900 --cols 6 --sheets 2 --seed 5 --title Sales
/usr/bin/python3 -c "import sys; sys.stdout.buffer.write(b'placeholder\n' * 2731)" >"$work/hole.bin"
/usr/bin/python3 -c "import sys; sys.stdout.buffer.write(b'meeting notes\n' * 400)" >"$work/notes.txt"
mcopy -i "$out" "$work/hole.bin" ::/hole.bin
mcopy -i "$out" "$work/notes.txt" ::/notes.txt
mdel -i "$out" ::/hole.bin
# Forget the next-free hint of the FAT32 information sector (sector 1, offset 0x1EC), as a volume
# whose hint is unknown: the allocator then searches from the start and finds the hole.
printf '\xff\xff\xff\xff' | dd of="$out" bs=1 seek=$((512 + 0x1EC)) conv=notrunc status=none
mcopy -i "$out" "$work/sales 2026.xls" "::/sales 2026.xls"
mdel -i "$out" "::/sales 2026.xls"
mdel -i "$out" ::/Reports/deleted.xls
echo "demo image: $out" >&2
