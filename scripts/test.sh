#!/usr/bin/env bash
# Set-up, build, every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" "$@"
"$root/scripts/build.sh" -DTARVO_WERROR=ON
build=${TARVO_BUILD_DIR:-$root/build}
cd "$build"
"$root/scripts/format.sh"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
