#!/usr/bin/env bash
# Set-up, build, install the plug-ins for this user, then render a demo with the tarvo tool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${TARVO_BUILD_DIR:-$root/build}
artefacts="$build/host/Tarvo_artefacts/Release"
if [[ -d "$artefacts/VST3/Tarvo.vst3" ]]; then
  mkdir -p ~/.vst3 ~/.lv2
  rm -rf ~/.vst3/Tarvo.vst3 ~/.lv2/Tarvo.lv2
  cp -rp "$artefacts/VST3/Tarvo.vst3" ~/.vst3/
  cp -rp "$artefacts/LV2/Tarvo.lv2" ~/.lv2/
  echo "installed: ~/.vst3/Tarvo.vst3 ~/.lv2/Tarvo.lv2"
fi
mkdir -p "$root/out"
"$build/tarvo" demo --out "$root/out/demo.wav"
