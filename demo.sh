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
cleanup() {
  pkill -f "$OUT/state/install/.*MorvikBackup.exe" 2>/dev/null || true
  pkill -f "/opt/Morvik/Morvik Backup/MorvikBackup.exe" 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
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
  "$SETUP" > "$OUT/setup.log" 2>&1
  code=$?
  set -e
  print_funnel
  exit $code
fi

echo "== no display: clicking through the wizard on a private Xvfb =="
for n in $(seq 90 120); do [ -e "/tmp/.X11-unix/X$n" ] || break; done
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp > "$OUT/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$n"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

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

"$SETUP" > "$OUT/setup.log" 2>&1 &
setup_pid=$!
pids+=("$setup_pid")
wait_for 30 window_of QUORVANE_UI_Frame || { echo "demo: no wizard window (see $OUT/setup.log)"; exit 1; }
wizard=$(window_of QUORVANE_UI_Frame)
sleep 1
shot 1-start

# The install button sits in the middle of the first page (225,214, 200 x 40).
click "$wizard" 325 234
sleep 1.5
shot 2-running
wait_for 120 grep -q "Download / 6.ProgramFinsh" "$OUT/funnel.txt" \
  || { shot 3-failed; echo "demo: the install did not finish (see $OUT/setup.log)"; exit 1; }
sleep 1.5
shot 3-finished

install_dir=$(sed -n 's/.*\[Start Install CmdLine\]: .*\/DIR="\([^"]*\)".*/\1/p' "$OUT/setup.log" | tail -n 1)
# The start button takes the install button's place on the finished row.
click "$wizard" 325 234
wait_for 15 window_of CALIENTWND_UI_Frame && { sleep 0.5; shot 4-overlay; }
wait_for 30 window_of MORVIK_BACKUP_Frame || { shot 5-no-product; echo "demo: the product did not start"; exit 1; }
sleep 0.5
shot 5-product-running
product_pid=$(pgrep -f 'MorvikBackup.exe' | head -n 1 || true)
[ -n "$product_pid" ] || { echo "demo: the product window appeared but no product process runs"; exit 1; }

echo "== result =="
echo "  installed into: ${install_dir:-?}"
echo "  product running: $(tr '\0' ' ' < "/proc/$product_pid/cmdline") (pid $product_pid)"
print_funnel
wait_for 15 sh -c "! kill -0 $setup_pid" || true
echo "demo: OK"
