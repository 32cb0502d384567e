#!/bin/sh
# jalv.sh ARTEFACT_DIR WORK_DIR
# Plays the LV2 instrument in jalv on a private JACK server with the dummy driver: notes go
# in, every audio output is recorded and must sound and stay finite. Exits 77 when jalv,
# jackd or the Python JACK client is missing.
set -eu
ARTEFACTS=$(readlink -f "$1"); WORK=$2
HERE=$(dirname "$(readlink -f "$0")")
# A missing host program skips the test (77), or fails it when the host programs are required
# (`scripts/test.sh --hosts`, which installs them).
SKIP=77; [ "${TARVO_REQUIRE_HOSTS:-0}" = 1 ] && SKIP=1
SECONDS_RECORDED=2.5
for tool in jalv jackd jack_wait jack_lsp python3; do
  command -v $tool >/dev/null 2>&1 || { echo "$tool is not installed"; exit $SKIP; }
done
# The system's python3 has the JACK client module; one earlier on PATH may not.
PY=
for candidate in $(which -a python3); do
  "$candidate" -c "import jack" 2>/dev/null && { PY=$candidate; break; }
done
[ -n "$PY" ] || { echo "no python3 with the jack module"; exit $SKIP; }

rm -rf "$WORK"; mkdir -p "$WORK/lv2" "$WORK/home" "$WORK/tarvo-home"
WORK=$(readlink -f "$WORK")
cp -rp "$ARTEFACTS/LV2/Tarvo.lv2" "$WORK/lv2/"
export HOME="$WORK/home" TARVO_HOME="$WORK/tarvo-home" LV2_PATH="$WORK/lv2"
# A server name of our own: other JACK servers on the machine are left alone.
export JACK_DEFAULT_SERVER="tarvo-test-$$"

jackd --no-realtime -d dummy -r 48000 -p 512 >"$WORK/jackd.log" 2>&1 & JACKD=$!
FIFO="$WORK/jalv-commands"; mkfifo "$FIFO"
JALV=
cleanup() {
  exec 7>&- 2>/dev/null || true
  [ -n "$JALV" ] && { kill $JALV 2>/dev/null || true; wait $JALV 2>/dev/null || true; }
  kill $JACKD 2>/dev/null || true; wait $JACKD 2>/dev/null || true
}
trap cleanup EXIT
jack_wait -w -t 10 >/dev/null 2>&1 || { cat "$WORK/jackd.log"; echo "jackd did not start"; exit 1; }

# jalv quits when its command input ends: a writer stays open on fd 7 until the end.
jalv -n tarvo https://brannock.audio/plugins/tarvo <"$FIFO" >"$WORK/jalv.log" 2>&1 & JALV=$!
exec 7>"$FIFO"
for i in $(seq 100); do
  jack_lsp 2>/dev/null | grep -q '^tarvo:' && break
  kill -0 $JALV 2>/dev/null || { cat "$WORK/jalv.log"; echo "jalv quit"; exit 1; }
  sleep 0.1
done
# The instrument's first idle tick loads its start preset: give it a moment.
sleep 1
"$PY" "$HERE/jack_notes.py" tarvo "$WORK/jalv.wav" "$SECONDS_RECORDED"
python3 "$HERE/wavcheck.py" "$WORK/jalv.wav"
