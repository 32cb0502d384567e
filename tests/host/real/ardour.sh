#!/bin/sh
# ardour.sh VST3|LV2 ARTEFACT_DIR WORK_DIR
# Plays the instrument inside Ardour 7, headless: a session on the dummy backend with a MIDI
# track playing notes 36 to 43 is created, saved and exported; then reopened, saved again by
# the restored instance and exported again. Both exports must sound, stay finite and match,
# and the control set before the first save must come back. Exits 77 when Ardour is missing.
set -eu
FORMAT=$1; ARTEFACTS=$(readlink -f "$2"); WORK=$3
HERE=$(dirname "$(readlink -f "$0")")
# A missing host program skips the test (77), or fails it when the host programs are required
# (`scripts/test.sh --hosts`, which installs them).
SKIP=77; [ "${TARVO_REQUIRE_HOSTS:-0}" = 1 ] && SKIP=1
for tool in ardour7-lua ardour7-export python3; do
  command -v $tool >/dev/null 2>&1 || { echo "$tool is not installed"; exit $SKIP; }
done

# A control with an audible effect, set to a value other than its default: the exports and
# the reopened session show whether the state came back.
CONTROL="global amp"
rm -rf "$WORK"; mkdir -p "$WORK/home" "$WORK/vst3" "$WORK/lv2" "$WORK/tarvo-home"
WORK=$(readlink -f "$WORK")
# Nothing of the user's: a private home (Ardour's configuration and plug-in cache), private
# plug-in paths holding copies of the fresh bundles, and a private Tarvo folder.
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_CACHE_HOME="$WORK/home/.cache"
export TARVO_HOME="$WORK/tarvo-home"
export VST3_PATH="$WORK/vst3" LV2_PATH="$WORK/lv2"
unset LADSPA_PATH || true

if [ "$FORMAT" = VST3 ]; then
  # -p keeps the build's time stamps: Ardour trusts a scan only when it is newer than the
  # plug-in's library by a second or more.
  cp -rp "$ARTEFACTS/VST3/Tarvo.vst3" "$WORK/$(echo $FORMAT | tr A-Z a-z)/"
  SCANNER=$(dpkg -L ardour 2>/dev/null | grep 'ardour-vst3-scanner$' | head -n 1 || true)
  [ -n "$SCANNER" ] || { echo "ardour-vst3-scanner not found"; exit $SKIP; }
  LIB=$(find "$WORK/vst3/Tarvo.vst3" -name '*.so' | head -n 1)
  AGE=$(( $(date +%s) - $(stat -c %Y "$LIB") ))
  [ "$AGE" -ge 2 ] || sleep 2
  LD_LIBRARY_PATH=$(dirname "$SCANNER") "$SCANNER" -q -f "$WORK/vst3/Tarvo.vst3"
  ID=Tarvo
  VALUE=0.25 # normalized: -50 on the control's -100..100
else
  cp -rp "$ARTEFACTS/LV2/Tarvo.lv2" "$WORK/$(echo $FORMAT | tr A-Z a-z)/"
  ID=https://brannock.audio/plugins/tarvo
  VALUE=-50 # LV2 hosts set the plain value
fi

# ardour7-export 7.3 now and then aborts while tearing down, after the file is written, and
# now and then stops on the dummy backend before the first block, writing only the header: a
# try that takes far longer than the few seconds an export needs is ended and made again.
export_session() {
  for try in 1 2 3; do
    rm -f "$2"
    if timeout -k 5 90 ardour7-export -b float -o "$2" "$WORK/session" "$1" >"$WORK/export-$try.log" 2>&1
    then return 0; fi
    # A header alone (a stopped export) is not a written file.
    [ "$(stat -c %s "$2" 2>/dev/null || echo 0)" -gt 1024 ] && return 0
    echo "ardour7-export failed (try $try)" >&2
  done
  cat "$WORK/export-3.log" >&2
  return 1
}

ardour7-lua "$HERE/session.lua" create "$WORK/session" tarvo "$FORMAT" "$ID" "$CONTROL=$VALUE" \
  >"$WORK/create.log" 2>&1 || { cat "$WORK/create.log"; exit 1; }
grep -E '^(instrument|set|saved):' "$WORK/create.log" || true
export_session tarvo "$WORK/first.wav"
ardour7-lua "$HERE/session.lua" reopen "$WORK/session" tarvo "$CONTROL" \
  >"$WORK/reopen.log" 2>&1 || { cat "$WORK/reopen.log"; exit 1; }
grep -E '^restored:' "$WORK/reopen.log" || true
export_session tarvo "$WORK/reopened.wav"

SET=$(sed -n 's/^set:.*[[:space:]]\([-0-9.e]*\)$/\1/p' "$WORK/create.log")
RESTORED=$(sed -n 's/^restored:.*[[:space:]]\([-0-9.e]*\)$/\1/p' "$WORK/reopen.log")
# Through LV2, Ardour 7.3 shows the instrument's parameters as patch properties; after
# reopening, the property reads as its default whatever was saved, so only the VST3 control
# is compared there (the LV2 export's level still is).
if [ "$FORMAT" = VST3 ]; then
  # The value asked for (not only what Ardour read back after setting it) must come back
  # after reopening.
  echo "requested: $VALUE, read back after setting: $SET"
  python3 "$HERE/wavcheck.py" --same "$WORK/first.wav" "$WORK/reopened.wav" --value "$VALUE" "$RESTORED"
else
  python3 "$HERE/wavcheck.py" --same "$WORK/first.wav" "$WORK/reopened.wav"
fi
