#!/usr/bin/env bash
# Rebuilds the embedded record-succession table (resources/record_succession_table_data.cpp) from the
# corpus workbooks, except those held out for measurement (tools/succession_table_holdout.txt), and from
# python3-xlwt workbooks of several shapes.
# usage: tools/rebuild_succession_table.sh [BUILD_DIR]     (default build/release; configured if missing)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/release}
corpus=$root/../shared/corpus/xls
[ -d "$corpus" ] || { echo "error: corpus not found at $corpus" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[ -f "$build/build.ninja" ] || (cd "$root" && cmake --preset release >/dev/null)
cmake --build "$build" --target build_succession_table -j2 >/dev/null

# Workbooks from python3-xlwt: one to four sheets, from a few rows to many thousands.
n=0
for shape in "20 5 1" "200 8 1" "3000 6 1" "60 4 3" "800 10 2" "5000 12 1" "150 3 4" "12000 5 1"; do
    read -r rows cols sheets <<<"$shape"
    n=$((n + 1))
    /usr/bin/python3 "$here/make_workbook.py" "$work/xlwt_$n.xls" --rows "$rows" --cols "$cols" --sheets "$sheets" \
        --seed $((9000 + n)) --title "Table"
done

"$build/build_succession_table" --exclude-list "$here/succession_table_holdout.txt" \
    --out-source "$root/resources/record_succession_table_data.cpp" "$corpus" "$work"
echo "rebuilt $root/resources/record_succession_table_data.cpp; rebuild the program to embed it" >&2
