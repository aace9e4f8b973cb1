#!/usr/bin/env bash
# The main job: a whole install of the sample product "Morvik Backup" by the real Setup,
# against the maker's service and download server run locally (tools/demo-service).
#
#   ./demo.sh              with a display: opens the wizard for you to click through;
#                          without one: starts Xvfb and clicks through it itself
#   DEMO_HEADLESS=1 ./demo.sh   always the unattended click-through on a private Xvfb
#   DEMO_SETUP=/usr/bin/Setup ./demo.sh   the Setup of the installed .deb instead of build/demo/Setup
#
# build/demo/Setup is Setup pinned to the sample product's signing certificate (made once
# per build tree in build/sample-signing/): it runs only installers that key signed.
#
# Everything lands in demo-out/: screenshots of every stage, Setup's output, the analytics
# funnel the service received. It exits 0 only when the installed product really runs.
# Everything it starts, it stops.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
SETUP=${DEMO_SETUP:-$ROOT/build/demo/Setup}

echo "== setting up (packages, build) =="
tools/setup.sh >/dev/null

OUT=$ROOT/demo-out
rm -rf "$OUT"
mkdir -p "$OUT/state/home" "$OUT/state/tmp" "$OUT/state/registry" "$OUT/screenshots"

pids=()
# Setup and everything it starts carry this mark in their environment: the product it
# launches leaves Setup's session and outlives it, so neither the parent links nor the
# process group lead to it afterwards, but the inherited environment does.
run_mark="QV_DEMO_RUN=$$.$(date +%s%N).$RANDOM"
started_by_setup() {  # the pids of this run's Setup and all it started, however detached
  local f pid
  for f in /proc/[0-9]*/environ; do
    pid=${f#/proc/}; pid=${pid%/environ}
    grep -qzxF "$run_mark" "$f" 2>/dev/null && echo "$pid"
  done
  return 0
}
alive() {  # a zombie still answers kill -0, but is gone
  local state
  state=$(sed -n 's/.*) \(.\).*/\1/p' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}
gone() { ! alive "$1"; }
stop() {  # stop PID...: asks them to end, and after 5 s insists
  local pid
  [ $# -gt 0 ] || return 0
  kill "$@" 2>/dev/null || true
  for _ in $(seq 50); do
    for pid in "$@"; do alive "$pid" && break; pid=; done
    [ -z "$pid" ] && return 0
    sleep 0.1
  done
  kill -KILL "$@" 2>/dev/null || true
}
cleanup() {
  local marked
  mapfile -t marked < <(started_by_setup)
  stop "${marked[@]}"
  stop "${pids[@]}"
  wait 2>/dev/null || true
}
trap cleanup EXIT

echo "== starting the local maker service =="
build/qv-demo-service --installer build/sample/MorvikBackupSetup.exe \
  --env-file "$OUT/service.env" --funnel-file "$OUT/funnel.txt" > "$OUT/service.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -f "$OUT/service.env" ] && break; sleep 0.1; done
[ -f "$OUT/service.env" ] || { echo "demo: the service did not start (see $OUT/service.log)"; exit 1; }
cat "$OUT/service.log"
# shellcheck disable=SC1091
. "$OUT/service.env"
export HOME="$OUT/state/home" TMPDIR="$OUT/state/tmp" QV_REGISTRY_DIR="$OUT/state/registry"
export XDG_CONFIG_HOME="$HOME/.config" XDG_STATE_HOME="$HOME/.local/state"
export LANG=${DEMO_LANG:-en_US.UTF-8}

print_funnel() {
  sleep 1.5   # the service rewrites its funnel file every second
  echo "== analytics funnel received by the service =="
  grep -E ' / ' "$OUT/funnel.txt" | sed 's/^/  /' || true
}

if [ -n "${DISPLAY:-}" ] && [ "${DEMO_HEADLESS:-0}" != 1 ] && xdpyinfo >/dev/null 2>&1; then
  echo "== opening the wizard on $DISPLAY: install, then start the product =="
  set +e
  env "$run_mark" "$SETUP" > "$OUT/setup.log" 2>&1
  code=$?
  set -e
  print_funnel
  exit $code
fi

echo "== no display: clicking through the wizard on a private Xvfb =="
# Xvfb picks a free display itself and names it once it takes clients: a number chosen
# here could be taken meanwhile by another server, and a busy machine can take seconds to
# bring it up.
: > "$OUT/display"
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5> "$OUT/display" > "$OUT/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do grep -q '^[0-9]' "$OUT/display" && break; sleep 0.1; done
if ! grep -q '^[0-9]' "$OUT/display"; then
  echo "demo: Xvfb named no display within 30 s (see $OUT/xvfb.log)"
  exit 1
fi
export DISPLAY=":$(head -n 1 "$OUT/display")"

shot() { import -window root "$OUT/screenshots/$1.png" && echo "  screenshot demo-out/screenshots/$1.png"; }
wait_for() {  # wait_for SECONDS COMMAND...: polls the command every 0.2 s
  local limit=$1; shift
  for _ in $(seq $((limit * 5))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; done
  return 1
}
window_of() { xdotool search --class "$1" 2>/dev/null | head -n 1; }
click() {  # click WINDOW X Y (window coordinates)
  xdotool mousemove --window "$1" "$2" "$3" sleep 0.2 click 1
}
# Setup's windows report where their named controls are (one file per window class).
RECTS=$OUT/state/rects
mkdir -p "$RECTS"
centre_of() {  # centre_of CLASS CONTROL: "x y" of the control, when shown and enabled
  local name x y w h enabled
  [ -f "$RECTS/$1.rects" ] || return 1
  while read -r name x y w h enabled; do
    [ "$name" = "$2" ] && [ "$enabled" = 1 ] && { echo "$((x + w / 2)) $((y + h / 2))"; return 0; }
  done < "$RECTS/$1.rects"
  return 1
}
click_control() {  # click_control WINDOW CLASS CONTROL: waits up to 30 s for it to be clickable
  local x y
  wait_for 30 centre_of "$2" "$3" || { echo "demo: no $3 to click (see $OUT/setup.log)"; return 1; }
  read -r x y < <(centre_of "$2" "$3")
  click "$1" "$x" "$y"
}

env "$run_mark" QV_CONTROL_RECTS_DIR="$RECTS" "$SETUP" > "$OUT/setup.log" 2>&1 &
setup_pid=$!
pids+=("$setup_pid")
wait_for 30 window_of QUORVANE_UI_Frame || { echo "demo: no wizard window (see $OUT/setup.log)"; exit 1; }
wizard=$(window_of QUORVANE_UI_Frame)
sleep 1
shot 1-start

click_control "$wizard" QUORVANE_UI_Frame install_btn || exit 1
sleep 1.5
shot 2-running
wait_for 120 grep -q "Download / 6.ProgramFinsh" "$OUT/funnel.txt" \
  || { shot 3-failed; echo "demo: the install did not finish (see $OUT/setup.log)"; exit 1; }
sleep 1.5
shot 3-finished

install_dir=$(sed -n 's/.*\[Start Install CmdLine\]: .*\/DIR="\([^"]*\)".*/\1/p' "$OUT/setup.log" | tail -n 1)
click_control "$wizard" QUORVANE_UI_Frame start_app || exit 1
wait_for 15 window_of CALIENTWND_UI_Frame && { sleep 0.5; shot 4-overlay; }
wait_for 30 window_of MORVIK_BACKUP_Frame || { shot 5-no-product; echo "demo: the product did not start"; exit 1; }
sleep 0.5
shot 5-product-running
product_pid=
for pid in $(started_by_setup); do
  tr '\0' ' ' 2>/dev/null < "/proc/$pid/cmdline" | grep -q 'MorvikBackup\.exe' && { product_pid=$pid; break; }
done
[ -n "$product_pid" ] || { echo "demo: the product window appeared but no product process runs"; exit 1; }

echo "== result =="
echo "  installed into: ${install_dir:-?}"
echo "  product running: $(tr '\0' ' ' < "/proc/$product_pid/cmdline") (pid $product_pid)"
print_funnel
wait_for 15 gone "$setup_pid" || true
echo "demo: OK"
