# Sourced by the real-host scripts: the X and JACK servers they need, started so that a
# client can rely on them (POSIX sh).
# start_display WORK_DIR: starts Xvfb on a display number it picks itself (-displayfd), waits
# until the X server answers a client, not only until it has named its display, and exports
# DISPLAY. XVFB holds the server's process id for the caller's clean-up. A server that dies or
# never answers is replaced, up to three times; then the function prints the server's log and
# returns 1.
#
# With two of these scripts starting servers at once, a server may name a display whose
# socket another one takes over, and a client then fails with "Cannot open display": hence the
# check with a real client.
XVFB=
start_display() {
  _work=$1
  for _attempt in 1 2 3; do
    rm -f "$_work/display"
    exec 6>"$_work/display"
    Xvfb -displayfd 6 -screen 0 1280x1024x24 -nolisten tcp >"$_work/xvfb.log" 2>&1 &
    XVFB=$!
    exec 6>&-
    for _i in $(seq 100); do
      [ -s "$_work/display" ] && break
      kill -0 "$XVFB" 2>/dev/null || break
      sleep 0.1
    done
    if [ -s "$_work/display" ]; then
      DISPLAY=":$(head -n 1 "$_work/display")"
      export DISPLAY
      for _i in $(seq 50); do
        xwininfo -root >/dev/null 2>&1 && return 0
        kill -0 "$XVFB" 2>/dev/null || break
        sleep 0.1
      done
    fi
    stop_display
  done
  cat "$_work/xvfb.log"
  echo "Xvfb did not start"
  return 1
}

# stop_display: ends the server start_display started, if any.
stop_display() {
  [ -n "$XVFB" ] || return 0
  kill "$XVFB" 2>/dev/null || true
  wait "$XVFB" 2>/dev/null || true
  XVFB=
}

# start_jackd WORK_DIR: starts a dummy JACK server under $JACK_DEFAULT_SERVER and waits for
# it; JACKD holds its process id. A crashed JACK leaves its shared-memory registry behind,
# which can stop every later server from starting: when the first start fails while no JACK
# server runs on the machine, the stale registry is removed and the start tried once more.
JACKD=
start_jackd() {
  _work=$1
  for _attempt in 1 2; do
    jackd --no-realtime -d dummy -r 48000 -p 512 >"$_work/jackd.log" 2>&1 &
    JACKD=$!
    jack_wait -w -t 10 >/dev/null 2>&1 && return 0
    kill "$JACKD" 2>/dev/null || true
    wait "$JACKD" 2>/dev/null || true
    JACKD=
    if [ "$_attempt" = 1 ] && [ -e /dev/shm/jack-shm-registry ] && ! pgrep -x 'jackd|jackdbus' >/dev/null 2>&1; then
      echo "removing a stale JACK registry"
      rm -f /dev/shm/jack-shm-registry 2>/dev/null || true
    else
      break
    fi
  done
  cat "$_work/jackd.log"
  echo "jackd did not start"
  return 1
}
