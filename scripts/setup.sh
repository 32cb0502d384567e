#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Tarvo need. The plug-in is
# built without JUCE's web browser and curl, so no GTK, WebKit or curl development files.
# Quick when everything is present. `--hosts` adds the real host programs
# (Ardour, jalv, JACK) used by the host integration tests, and the recorded drums the analysis
# tests import.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache git
  clang clang-format libclang-rt-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  juce-modules-source libfftw3-dev libstb-dev libsndfile1-dev
  libasound2-dev libjack-jackd2-dev libfreetype-dev libfontconfig1-dev
  libgl-dev libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev
  libflac-dev libvorbis-dev libogg-dev libpng-dev libjpeg-dev zlib1g-dev
  xvfb xauth python3 libgl1-mesa-dri
)
if [[ "${1:-}" == "--hosts" ]]; then
  packages+=(ardour jalv lilv-utils jackd2 jack-tools jack-capture python3-jack-client sox xdotool x11-apps x11-utils
    sonic-pi-samples)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
echo "setup: installing ${missing[*]}" >&2
$sudo apt-get update -qq
echo "jackd2 jackd/tweak_rt_limits boolean false" | $sudo debconf-set-selections
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
