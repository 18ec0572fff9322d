#!/usr/bin/env bash
# Installs what is missing, builds the program and runs the main job on SOURCE (a disk image, a block
# device or HDn): load it, rebuild deleted workbooks from the free blocks, print the result tree and
# save everything found into ./recovered. Without
# SOURCE it uses a demo image built here.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

source_path=${1:-}
if [[ -z "$source_path" ]]; then
  source_path=build/demo/demo.img
  if [[ ! -f "$source_path" || tools/make_demo_image.sh -nt "$source_path" ]]; then
    tools/make_demo_image.sh "$source_path"
  fi
fi

exec build/release/tabulon recover "$source_path" --to recovered --fragments
