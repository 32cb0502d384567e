#!/usr/bin/env bash
# Set-up, build, install the plug-ins for this user, then render four bars of the preset a new
# instance opens with (installing the factory sounds and presets on first use).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build=${TARVO_BUILD_DIR:-$root/build}
# Only what this script runs and installs: the tool and the plug-ins (scripts/test.sh builds the
# tests).
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(tarvo)
if cmake --build "$build" --target help | grep -q '^Tarvo_VST3:'; then
  targets+=(Tarvo_VST3 Tarvo_LV2 Tarvo_Standalone)
fi
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}"
artefacts="$build/host/Tarvo_artefacts/Release"
if [[ -d "$artefacts/VST3/Tarvo.vst3" ]]; then
  mkdir -p ~/.vst3 ~/.lv2
  rm -rf ~/.vst3/Tarvo.vst3 ~/.lv2/Tarvo.lv2
  cp -rp "$artefacts/VST3/Tarvo.vst3" ~/.vst3/
  cp -rp "$artefacts/LV2/Tarvo.lv2" ~/.lv2/
  echo "plug-ins installed: ~/.vst3/Tarvo.vst3 ~/.lv2/Tarvo.lv2"
else
  echo "plug-ins not built (no JUCE host in this build)"
fi
mkdir -p "$root/out"
# The render's JSON names the preset and sound folders the factory content went to; the
# plug-ins use the same folders (TARVO_HOME overrides them).
"$build/tarvo" render --bars 4 --out "$root/out/demo.wav"
echo "demo: $root/out/demo.wav"
