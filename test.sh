#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, runs every
# test, then runs each fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh

jobs=$(nproc)
cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"
ctest_log=$(mktemp)
ctest --test-dir build/debug --output-on-failure -j "$jobs" --timeout 900 | tee "$ctest_log"
summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$ctest_log" | tail -n 1)
failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$summary")
total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$summary")
rm -f "$ctest_log"

# Fuzz targets: a short run each, seeded from fuzz/<target>.seeds (folders, one a line) where present.
fuzz_seconds=${TABULON_FUZZ_SECONDS:-20}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
for target in build/fuzz/fuzz/fuzz_*; do
  [[ -x "$target" && -f "$target" ]] || continue
  name=$(basename "$target")
  work=$(mktemp -d)
  seeds=()
  if [[ -f "fuzz/$name.seeds" ]]; then
    while IFS= read -r dir; do
      [[ -n "$dir" && -d "$dir" ]] && seeds+=("$dir")
    done < "fuzz/$name.seeds"
  fi
  echo "fuzz: $name for ${fuzz_seconds}s" >&2
  # Artifacts (crashes, slow inputs) go to the work folder, which is kept when a target fails.
  "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=4096 -timeout=20 -artifact_prefix="$work/" "$work" "${seeds[@]}" \
    >"$work.log" 2>&1 || { tail -n 60 "$work.log"; echo "fuzz: $name failed" >&2; exit 1; }
  rm -rf "$work" "$work.log"
done
echo "fuzz: all targets ran clean" >&2
echo "tests: $((total - failed)) passed, $failed failed"
