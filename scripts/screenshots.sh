#!/usr/bin/env bash
# Writes the editor's four views at 100 % and 200 % into out/screenshots/, painted by
# build/editor-snapshot from a fresh instance playing its start preset.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVO_BUILD_DIR:-$root/build}
[[ -x "$build/editor-snapshot" ]] || cmake --build "$build" --target editor-snapshot
out="$root/out/screenshots"
mkdir -p "$out"
# A home of its own, so the shots never depend on (or change) the user's presets and themes.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
for view in Sound Sequence Modulate Mix; do
  for scale in 100 200; do
    TARVO_HOME="$home" "$build/editor-snapshot" --view "$view" --scale "$scale" \
      --out "$out/$(echo "$view" | tr '[:upper:]' '[:lower:]')-$scale.png"
  done
done
