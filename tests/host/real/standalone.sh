#!/bin/sh
# standalone.sh ARTEFACT_DIR WORK_DIR
# Starts the standalone app headless (a virtual X display) on a private JACK server with the
# dummy driver, twice: it must open JACK, register its outputs, quit cleanly on Ctrl-C and
# keep the audio setup in its settings file from one start to the next. Exits 77 when Xvfb or
# jackd is missing.
set -eu
ARTEFACTS=$(readlink -f "$1"); WORK=$2
# A missing host program skips the test (77), or fails it when the host programs are required
# (`scripts/test.sh --hosts`, which installs them).
SKIP=77; [ "${TARVO_REQUIRE_HOSTS:-0}" = 1 ] && SKIP=1
for tool in xvfb-run jackd jack_wait jack_lsp; do
  command -v $tool >/dev/null 2>&1 || { echo "$tool is not installed"; exit $SKIP; }
done
APP="$ARTEFACTS/Standalone/Tarvo"
[ -x "$APP" ] || { echo "no standalone app at $APP"; exit 1; }

rm -rf "$WORK"; mkdir -p "$WORK/home/.config" "$WORK/tarvo-home"
WORK=$(readlink -f "$WORK")
# The app keeps its settings in ~/.config/Tarvo.settings: a private home keeps the user's.
export HOME="$WORK/home" TARVO_HOME="$WORK/tarvo-home"
export JACK_DEFAULT_SERVER="tarvo-test-$$"
SETTINGS="$HOME/.config/Tarvo.settings"

jackd --no-realtime -d dummy -r 48000 -p 512 >"$WORK/jackd.log" 2>&1 & JACKD=$!
XVFB=
cleanup() {
  [ -n "$XVFB" ] && { pkill -KILL -f "^$APP\$" 2>/dev/null || true; wait $XVFB 2>/dev/null || true; }
  kill $JACKD 2>/dev/null || true; wait $JACKD 2>/dev/null || true
}
trap cleanup EXIT
jack_wait -w -t 10 >/dev/null 2>&1 || { cat "$WORK/jackd.log"; echo "jackd did not start"; exit 1; }

# run NAME: starts the app, waits for its JACK outputs, then quits it as Ctrl-C in a terminal
# does; the app must be gone within twenty seconds.
run() {
  xvfb-run -a "$APP" >"$WORK/$1.log" 2>&1 & XVFB=$!
  for i in $(seq 300); do
    jack_lsp 2>/dev/null | grep -q '^Tarvo:out_' && break
    kill -0 $XVFB 2>/dev/null || { cat "$WORK/$1.log"; echo "$1: the app quit"; exit 1; }
    sleep 0.1
  done
  jack_lsp 2>/dev/null | grep -q '^Tarvo:out_' || { cat "$WORK/$1.log"; echo "$1: no JACK outputs"; exit 1; }
  # A moment of playing, with the first idle tick's start preset loaded.
  sleep 1
  jack_lsp 2>/dev/null | grep '^Tarvo:' >"$WORK/$1.ports"
  pkill -INT -f "^$APP\$"
  for i in $(seq 200); do
    kill -0 $XVFB 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 $XVFB 2>/dev/null; then cat "$WORK/$1.log"; echo "$1: the app did not quit"; exit 1; fi
  wait $XVFB || { cat "$WORK/$1.log"; echo "$1: the app failed"; exit 1; }
  XVFB=
  [ -s "$SETTINGS" ] || { echo "$1: no settings file written"; exit 1; }
}

run first
echo "first start: $(tr '\n' ' ' <"$WORK/first.ports")"

# The audio setup a user chose in the settings dialog, as the app stores it.
cat >"$SETTINGS" <<EOF
<?xml version="1.0" encoding="UTF-8"?>

<PROPERTIES>
  <VALUE name="audioSetup">
    <DEVICESETUP deviceType="JACK" audioOutputDeviceName="system" audioInputDeviceName=""
                 audioDeviceRate="48000.0"/>
  </VALUE>
  <VALUE name="shouldMuteInput" val="1"/>
</PROPERTIES>
EOF
run second
grep -q 'deviceType="JACK"' "$SETTINGS" && grep -q 'audioOutputDeviceName="system"' "$SETTINGS" ||
  { cat "$SETTINGS"; echo "the chosen audio setup was not kept"; exit 1; }
echo "second start kept the audio setup: $(grep -o 'deviceType="[A-Za-z]*"' "$SETTINGS")"
