#!/bin/sh
# jalv_gui.sh ARTEFACT_DIR WORK_DIR
# Opens the LV2 instrument's own editor in jalv's GTK host on a virtual display, takes a
# picture of the editor's window and checks it is the editor: 792 × 602 and showing content.
# The picture is kept as WORK_DIR/editor.png. Exits 77 when a program it needs is missing
# (fails instead under `scripts/test.sh --hosts`).
set -eu
ARTEFACTS=$(readlink -f "$1"); WORK=$2
HERE=$(dirname "$(readlink -f "$0")")
SKIP=77; [ "${TARVO_REQUIRE_HOSTS:-0}" = 1 ] && SKIP=1
for tool in jalv.gtk3 jackd jack_wait Xvfb xdotool xwd xwininfo pgrep python3; do
  command -v $tool >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit $SKIP; }
done

rm -rf "$WORK"; mkdir -p "$WORK/lv2" "$WORK/home" "$WORK/tarvo-home"
WORK=$(readlink -f "$WORK")
cp -rp "$ARTEFACTS/LV2/Tarvo.lv2" "$WORK/lv2/"
export HOME="$WORK/home" TARVO_HOME="$WORK/tarvo-home" LV2_PATH="$WORK/lv2"
export JACK_DEFAULT_SERVER="tarvo-gui-test-$$"

. "$HERE/servers.sh"
JALV=
cleanup() {
  [ -n "$JALV" ] && { kill $JALV 2>/dev/null || true; wait $JALV 2>/dev/null || true; }
  [ -n "$JACKD" ] && { kill $JACKD 2>/dev/null || true; wait $JACKD 2>/dev/null || true; }
  stop_display
}
trap cleanup EXIT
start_display "$WORK" || exit 1
start_jackd "$WORK" || exit 1

jalv.gtk3 --jack-name tarvo https://brannock.audio/plugins/tarvo >"$WORK/jalv.log" 2>&1 & JALV=$!

# The editor is the window of the plug-in's own size inside jalv's.
WINDOW=
for i in $(seq 150); do
  kill -0 $JALV 2>/dev/null || { cat "$WORK/jalv.log"; echo "jalv quit"; exit 1; }
  for id in $(xdotool search --onlyvisible --name '.*' 2>/dev/null); do
    size=$(xwininfo -id "$id" 2>/dev/null | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
    [ "$size" = "792x602" ] && { WINDOW=$id; break; }
  done
  [ -n "$WINDOW" ] && break
  sleep 0.2
done
[ -n "$WINDOW" ] || { xwininfo -root -tree | head -40; cat "$WORK/jalv.log"; echo "no editor window appeared"; exit 1; }
# The editor's display tick draws its content; on a busy machine that may take a while, so
# the picture is taken again until it shows the editor, for up to about twenty seconds.
for attempt in $(seq 10); do
  sleep 1
  xwd -silent -id "$WINDOW" -out "$WORK/editor.xwd"
  python3 "$HERE/xwdcheck.py" "$WORK/editor.xwd" "$WORK/editor.png" 792 602 && exit 0
done
exit 1
