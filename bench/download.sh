#!/usr/bin/env bash
# Download benchmark: setup-tool download (the installer's engine, 10 workers) against
# aria2c -x10 -s10 -k1M (ten connections) and, on loopback, curl -o (one stream), on five
# profiles:
#   loopback   nginx on 127.0.0.1 serving a random file (512 MiB by default);
#   uniform    ../shared/bench/shaper.py between client and nginx: 40 ms each way,
#              4 MiB/s per connection;
#   straggler  the same, with every 3rd connection at 0.5 MiB/s;
#   far        150 ms each way, 4 MiB/s per connection;
#   line       one 20 MiB/s access line shared by all connections, 4 MiB/s each
#              (the shaped profiles download a 64 MiB file by default).
# The shaper is started afresh for every run, so that every run meets the same pattern of
# slow connections. Prints per tool the median seconds, MB/s (10^6 bytes per second), CPU
# seconds and peak RSS, then the ratios (aria2 s / ours s: above 1 means ours is faster),
# for the line profile the fraction of the line each tool used, and a summary table. Every
# downloaded file is compared with the original. Builds a Release setup-tool in
# build-release/ when it is missing.
#
# Environment: PROFILES ("loopback uniform straggler far line"), RUNS (3),
# LOOPBACK_MIB (512), SHAPED_MIB (64), SKIP_SHAPED=1 (loopback only),
# CURL_SHAPED=1 (curl on the shaped profiles too: about 16 s a run).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

PROFILES=${PROFILES:-loopback uniform straggler far line}
if [ -n "${SKIP_SHAPED:-}" ]; then PROFILES=loopback; fi
LOOPBACK_MIB=${LOOPBACK_MIB:-512}
SHAPED_MIB=${SHAPED_MIB:-64}
RUNS=${RUNS:-3}
SHAPER="$ROOT/../shared/bench/shaper.py"
TOOL="$ROOT/build-release/setup-tool"
LINE_MIBS=20

die() { echo "bench: $*" >&2; exit 1; }
for cmd in nginx curl aria2c python3 cmp; do
  command -v "$cmd" >/dev/null || die "$cmd is not installed (tools/setup.sh installs it)"
done
[ -x /usr/bin/time ] || die "/usr/bin/time is not installed (Debian package: time)"
shaped=0
for p in $PROFILES; do
  case $p in
    loopback) ;;
    uniform|straggler|far|line) shaped=1 ;;
    *) die "unknown profile '$p' (loopback uniform straggler far line)" ;;
  esac
done
if [ "$shaped" = 1 ] && [ ! -f "$SHAPER" ]; then
  die "the shaped profiles need $SHAPER (the shared bench folder beside the repository); PROFILES=loopback runs without it"
fi

if [ ! -x "$TOOL" ]; then
  echo "bench: building a Release setup-tool in build-release/" >&2
  [ -f build-release/build.ninja ] ||
    cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_SANITIZE=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build build-release --target setup-tool >/dev/null
fi

WORK=$(mktemp -d /tmp/qv-bench.XXXXXX)
chmod 755 "$WORK"
NGINX_PID=""
SHAPER_PID=""
stop_shaper() {
  if [ -n "$SHAPER_PID" ]; then
    kill "$SHAPER_PID" 2>/dev/null || true
    wait "$SHAPER_PID" 2>/dev/null || true
    SHAPER_PID=""
  fi
}
cleanup() {
  stop_shaper
  if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# free_port, wait_port, start_nginx
source "$ROOT/bench/nginx.sh"

# nginx from its own prefix, unprivileged.
mkdir -p "$WORK/www" "$WORK/logs" "$WORK/tmp" "$WORK/out"
case " $PROFILES " in *" loopback "*) head -c $((LOOPBACK_MIB * 1048576)) /dev/urandom > "$WORK/www/big.bin" ;; esac
if [ "$shaped" = 1 ]; then head -c $((SHAPED_MIB * 1048576)) /dev/urandom > "$WORK/www/shaped.bin"; fi
chmod 644 "$WORK/www/"*.bin
PORT=$(free_port)
start_nginx "$WORK" "$PORT"

# The shaper's arguments for a profile; empty for loopback.
shaper_args() {
  case $1 in
    loopback)  echo "" ;;
    uniform)   echo "--delay-ms 40 --rate-mbs 4" ;;
    straggler) echo "--delay-ms 40 --rate-mbs 4 --slow-every 3 --slow-rate-mbs 0.5" ;;
    far)       echo "--delay-ms 150 --rate-mbs 4" ;;
    line)      echo "--delay-ms 40 --rate-mbs 4 --link-mbs $LINE_MIBS" ;;
  esac
}
describe() {
  case $1 in
    loopback)  echo "loopback (nginx on 127.0.0.1)" ;;
    uniform)   echo "uniform: 40 ms each way, 4 MiB/s per connection" ;;
    straggler) echo "straggler: 40 ms each way, 4 MiB/s per connection, every 3rd at 0.5 MiB/s" ;;
    far)       echo "far: 150 ms each way, 4 MiB/s per connection" ;;
    line)      echo "line: $LINE_MIBS MiB/s shared, 40 ms each way, 4 MiB/s per connection" ;;
  esac
}

# A fresh shaper for one run of a shaped profile; sets URL.
start_run() {
  local profile=$1
  if [ "$profile" = loopback ]; then
    URL="http://127.0.0.1:$PORT/big.bin"
    return
  fi
  local port
  port=$(free_port)
  # shellcheck disable=SC2046
  python3 "$SHAPER" "$port" 127.0.0.1 "$PORT" $(shaper_args "$profile") &
  SHAPER_PID=$!
  wait_port "$port"
  URL="http://127.0.0.1:$port/shaped.bin"
}

# One timed download; appends "seconds cpu_seconds rss_kib" to $RESULTS.
timed() {
  local tool=$1 profile=$2 source=$3
  local out="$WORK/out/file.bin"
  rm -f "$out" "$out.xml" "$out.aria2"
  start_run "$profile"
  case $tool in
    ours)  /usr/bin/time -f "%e %U %S %M" -o "$WORK/time" "$TOOL" download "$URL" "$out" >"$WORK/tool.log" 2>&1 ||
             { cat "$WORK/tool.log" >&2; die "setup-tool download failed"; } ;;
    curl)  /usr/bin/time -f "%e %U %S %M" -o "$WORK/time" curl -sS -o "$out" "$URL" ;;
    aria2) /usr/bin/time -f "%e %U %S %M" -o "$WORK/time" aria2c -x10 -s10 -k1M --quiet=true \
             --allow-overwrite=true --auto-file-renaming=false -d "$WORK/out" -o file.bin "$URL" ;;
  esac
  stop_shaper
  cmp -s "$out" "$source" || die "$tool ($profile): downloaded file differs from the original"
  if [ "$tool" = ours ]; then
    REQUESTS=$(sed -n 's/.*average [0-9.]* MB\/s, \([0-9]*\) requests.*/\1/p' "$WORK/tool.log")
  fi
  read -r wall user sys rss < "$WORK/time"
  echo "$wall $(python3 -c "print($user + $sys)") $rss" >> "$RESULTS"
}

# Medians of the runs of one tool: "seconds MB/s cpu rss_mib".
summarise() {
  python3 - "$1" "$2" <<'EOF'
import statistics, sys
size = int(sys.argv[2])
rows = [list(map(float, l.split())) for l in open(sys.argv[1]) if l.strip()]
secs = statistics.median(r[0] for r in rows)
mbs = statistics.median(size / r[0] / 1e6 for r in rows)
cpu = statistics.median(r[1] for r in rows)
rss = statistics.median(r[2] for r in rows) / 1024
print(f"{secs:.2f} {mbs:.1f} {cpu:.2f} {rss:.1f}")
EOF
}

SUMMARY="$WORK/summary"
: > "$SUMMARY"

run_profile() {
  local profile=$1 source
  if [ "$profile" = loopback ]; then source="$WORK/www/big.bin"; else source="$WORK/www/shaped.bin"; fi
  local size tools="ours aria2"
  size=$(stat -c %s "$source")
  if [ "$profile" = loopback ] || [ -n "${CURL_SHAPED:-}" ]; then tools="ours curl aria2"; fi
  echo
  echo "== $(describe "$profile"): $((size / 1048576)) MiB, $RUNS runs each, medians =="
  printf "%-34s %8s %10s %10s %12s\n" tool "s" "MB/s" "CPU s" "peak RSS MiB"
  declare -A SECS
  local label tool
  for tool in $tools; do
    RESULTS="$WORK/results.$tool"
    : > "$RESULTS"
    REQUESTS=""
    for _ in $(seq 1 "$RUNS"); do timed "$tool" "$profile" "$source"; done
    read -r secs mbs cpu rss < <(summarise "$RESULTS" "$size")
    SECS[$tool]=$secs
    case $tool in
      ours)  label="setup-tool download (10 workers)" ;;
      curl)  label="curl -o" ;;
      aria2) label="aria2c -x10 -s10 -k1M" ;;
    esac
    printf "%-34s %8s %10s %10s %12s\n" "$label" "$secs" "$mbs" "$cpu" "$rss"
    if [ "$tool" = ours ]; then echo "  (setup-tool made $REQUESTS range requests in its last run)"; fi
  done
  python3 - "$SUMMARY" "$profile" "$size" "$LINE_MIBS" "${SECS[ours]}" "${SECS[aria2]}" "${SECS[curl]:-0}" <<'EOF'
import sys
summary, profile, size, line = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
ours, aria2, curl = map(float, sys.argv[5:])
notes = []
if curl:
    notes.append(f"curl s / ours s {curl / ours:.2f}")
if profile == "line":
    ideal = size / (line * 1048576)
    notes.append(f"line used: ours {ideal / ours * 100:.0f} %, aria2 {ideal / aria2 * 100:.0f} % "
                 f"(the line alone needs {ideal:.2f} s)")
print(f"aria2 s / ours s {aria2 / ours:.2f}" + "".join("; " + n for n in notes))
with open(summary, "a") as out:
    out.write(f"| {profile} | {ours:.2f} s | {aria2:.2f} s | {aria2 / ours:.2f} | {'; '.join(notes)} |\n")
EOF
}

echo "setup-tool: $TOOL ($(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)), $(nproc) CPUs"
for profile in $PROFILES; do run_profile "$profile"; done

echo
echo "== summary: medians of $RUNS runs; aria2 s / ours s above 1 means ours is faster =="
echo "| profile | setup-tool | aria2 | aria2 s / ours s | also |"
echo "|---|---|---|---|---|"
cat "$SUMMARY"
