#!/bin/sh
# standalone_gui.sh ARTEFACT_DIR TARVO_TOOL WORK_DIR
# Drives the standalone app's editor with the mouse on a virtual display, as a user would:
# chooses a preset from the preset browser's menu, turns the first macro knob (Transform) up
# and presses the dice, then closes the window. The app keeps its state on closing; the test
# reads it back and checks that the preset was loaded, the knob moved the global Transform and
# the dice changed the kit and the pattern. Exits 77 when a program it needs is missing.
set -eu
ARTEFACTS=$(readlink -f "$1"); TOOL=$(readlink -f "$2"); WORK=$3
HERE=$(dirname "$(readlink -f "$0")")
SKIP=77; [ "${TARVO_REQUIRE_HOSTS:-0}" = 1 ] && SKIP=1
for tool in Xvfb xdotool xwininfo jackd jack_wait jack_lsp pgrep python3; do
  command -v $tool >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit $SKIP; }
done
APP="$ARTEFACTS/Standalone/Tarvo"
[ -x "$APP" ] || { echo "no standalone app at $APP"; exit 1; }

rm -rf "$WORK"; mkdir -p "$WORK/home/.config" "$WORK/tarvo-home"
WORK=$(readlink -f "$WORK")
export HOME="$WORK/home" TARVO_HOME="$WORK/tarvo-home"
export JACK_DEFAULT_SERVER="tarvo-gui-test-$$"
SETTINGS="$HOME/.config/Tarvo.settings"

# The factory content, and one preset of our own at the top of the preset folder: the last
# entry of the browser's menu.
"$TOOL" factory-install >/dev/null
PRESETS="$TARVO_HOME/Tarvo Presets"
cp "$PRESETS/Factory/Boom Bap.tarvo" "$PRESETS/Zebra Kit.tarvo"
"$TOOL" preset-info "$PRESETS/Zebra Kit.tarvo" >"$WORK/chosen.json"
"$TOOL" params >"$WORK/params.json"

. "$HERE/servers.sh"
APP_PID=
cleanup() {
  [ -n "$APP_PID" ] && { kill $APP_PID 2>/dev/null || true; wait $APP_PID 2>/dev/null || true; }
  [ -n "$JACKD" ] && { kill $JACKD 2>/dev/null || true; wait $JACKD 2>/dev/null || true; }
  stop_display
}
trap cleanup EXIT
start_display "$WORK" || exit 1
start_jackd "$WORK" || exit 1

"$APP" >"$WORK/app.log" 2>&1 & APP_PID=$!

# window_of NAME WIDTH HEIGHT: the id of a visible window of that name and size, or nothing.
window_of() {
  for id in $(xdotool search --onlyvisible --name "$1" 2>/dev/null); do
    size=$(xwininfo -id "$id" 2>/dev/null | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
    if [ -z "$2" ] || [ "$size" = "$2x$3" ]; then echo "$id"; return; fi
  done
}
EDITOR=
for i in $(seq 150); do
  kill -0 $APP_PID 2>/dev/null || { cat "$WORK/app.log"; echo "the app quit"; exit 1; }
  EDITOR=$(window_of '.*' 792 602)
  [ -n "$EDITOR" ] && break
  sleep 0.1
done
[ -n "$EDITOR" ] || { xwininfo -root -tree | head -30; echo "no editor appeared"; exit 1; }
eval "$(xwininfo -id "$EDITOR" | awk '/Absolute upper-left X/{print "X0=" $4} /Absolute upper-left Y/{print "Y0=" $4}')"
# at X Y: moves the pointer to a point of the editor (logical pixels at 100 %).
at() { xdotool mousemove $((X0 + $1)) $((Y0 + $2)); }

# The app is ready once its audio runs: its JACK outputs exist, and the idle tick after the
# audio's start (every 30 ms) loads the start preset, which the chosen one must follow.
for i in $(seq 300); do
  jack_lsp 2>/dev/null | grep -q '^Tarvo:out_' && break
  kill -0 $APP_PID 2>/dev/null || { cat "$WORK/app.log"; echo "the app quit"; exit 1; }
  sleep 0.1
done
jack_lsp 2>/dev/null | grep -q '^Tarvo:out_' || { cat "$WORK/app.log"; echo "the app plays no audio"; exit 1; }
sleep 0.2

# 1. The preset browser: its menu, then the last entry. A click that the editor or the menu
# does not take yet (on a busy machine they may still be settling) is repeated.
MENU=
for attempt in $(seq 10); do
  at 676 20; xdotool click 1
  for i in $(seq 20); do MENU=$(window_of '^menu$' '' ''); [ -n "$MENU" ] && break; sleep 0.1; done
  [ -n "$MENU" ] && break
done
[ -n "$MENU" ] || { echo "the preset menu did not open"; exit 1; }
for attempt in $(seq 5); do
  eval "$(xdotool getwindowgeometry --shell "$MENU")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 12))
  sleep 0.3
  xdotool click 1
  for i in $(seq 20); do [ -z "$(window_of '^menu$' '' '')" ] && break; sleep 0.1; done
  [ -z "$(window_of '^menu$' '' '')" ] && break
done
[ -z "$(window_of '^menu$' '' '')" ] || { echo "the preset menu did not close"; exit 1; }

# 2. The Transform macro knob, dragged 60 pixels up at a steady pace.
at 268 565; xdotool mousedown 1
for i in 1 2 3 4 5 6; do sleep 0.05; xdotool mousemove_relative -- 0 -10; done
xdotool mouseup 1
sleep 0.5

# 3. The dice.
at 772 20; xdotool click 1
sleep 1.5

# Close the window with its title bar's close button; the app keeps its state in its settings.
TOP=$(window_of '^Tarvo$' '' '')
[ -n "$TOP" ] || { echo "no app window"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$TOP")"
xdotool mousemove $((X + WIDTH - 16)) $((Y + 14)) click 1
for i in $(seq 200); do kill -0 $APP_PID 2>/dev/null || break; sleep 0.1; done
if kill -0 $APP_PID 2>/dev/null; then cat "$WORK/app.log"; echo "the app did not close"; exit 1; fi
wait $APP_PID || { cat "$WORK/app.log"; echo "the app failed"; exit 1; }
APP_PID=

python3 "$HERE/juce_state.py" "$SETTINGS" "$WORK/state.tarvo"
"$TOOL" preset-info "$WORK/state.tarvo" >"$WORK/state.json"
python3 - "$WORK/chosen.json" "$WORK/state.json" "$WORK/params.json" <<'PY'
import json, sys
chosen, state, params = (json.load(open(f)) for f in sys.argv[1:4])
transform = next(p["index"] for p in params["params"] if p["hostName"] == "Global Transform")
failures = []
if state["presetName"] != "Zebra Kit":
    failures.append("the chosen preset is not loaded: %r" % state["presetName"])
if not state["modified"]:
    failures.append("the preset does not count as changed")
before, after = chosen["params"][transform], state["params"][transform]
if not after > before + 5:
    failures.append("the Transform knob did not turn up: %s to %s" % (before, after))
names = lambda s: [(t["slotA"]["name"], t["slotB"]["name"]) for t in s["tracks"]]
if names(state) == names(chosen):
    failures.append("the dice left the kit as it was")
if state["patterns"] == chosen["patterns"]:
    failures.append("the dice left the pattern as it was")
print("preset %r, Transform %s -> %s, kit %s" % (state["presetName"], before, after, names(state)[0]))
if failures:
    sys.exit("\n".join(failures))
PY
