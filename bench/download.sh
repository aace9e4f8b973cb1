#!/usr/bin/env bash
# Download benchmark: setup-tool download (the installer's engine, 10 workers) against
# curl -o (one stream) and aria2c -x10 -s10 -k1M (ten connections), three runs each, on
#   (a) plain loopback: nginx on 127.0.0.1 serving a random file (512 MiB by default);
#   (b) a network profile: the userspace proxy ../shared/bench/shaper.py (40 ms each way,
#       4 MiB/s per connection) between the client and nginx, with a smaller file
#       (64 MiB by default; one curl stream takes about 16 s for it).
# Prints MB/s (10^6 bytes per second), CPU seconds and peak RSS per tool (medians of the
# runs) and the ratios of ours to each peer. Every downloaded file is compared with the
# original. Builds a Release setup-tool in build-release/ when it is missing.
#
# Environment: LOOPBACK_MIB (512), SHAPED_MIB (64), RUNS (3), SKIP_SHAPED=1.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

LOOPBACK_MIB=${LOOPBACK_MIB:-512}
SHAPED_MIB=${SHAPED_MIB:-64}
RUNS=${RUNS:-3}
SHAPER="$ROOT/../shared/bench/shaper.py"
TOOL="$ROOT/build-release/setup-tool"

die() { echo "bench: $*" >&2; exit 1; }
for cmd in nginx curl aria2c python3 cmp; do
  command -v "$cmd" >/dev/null || die "$cmd is not installed (tools/setup.sh installs it)"
done
[ -x /usr/bin/time ] || die "/usr/bin/time is not installed (Debian package: time)"
if [ -z "${SKIP_SHAPED:-}" ] && [ ! -f "$SHAPER" ]; then
  die "the network profile needs $SHAPER (the shared bench folder beside the repository); set SKIP_SHAPED=1 to run loopback only"
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
cleanup() {
  if [ -n "$SHAPER_PID" ]; then kill "$SHAPER_PID" 2>/dev/null || true; fi
  if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

wait_port() {
  for _ in $(seq 1 200); do
    if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1',$1),0.2)" 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  die "nothing listens on port $1"
}

# nginx from its own prefix, unprivileged.
mkdir -p "$WORK/www" "$WORK/logs" "$WORK/tmp" "$WORK/out"
head -c $((LOOPBACK_MIB * 1048576)) /dev/urandom > "$WORK/www/big.bin"
head -c $((SHAPED_MIB * 1048576)) /dev/urandom > "$WORK/www/shaped.bin"
chmod 644 "$WORK/www/"*.bin
PORT=$(free_port)
cat > "$WORK/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $WORK/logs/nginx.pid;
error_log $WORK/logs/error.log;
events { worker_connections 512; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  default_type application/octet-stream;
  client_body_temp_path $WORK/tmp/client;
  proxy_temp_path $WORK/tmp/proxy;
  fastcgi_temp_path $WORK/tmp/fastcgi;
  uwsgi_temp_path $WORK/tmp/uwsgi;
  scgi_temp_path $WORK/tmp/scgi;
  server { listen 127.0.0.1:$PORT; root $WORK/www; }
}
EOF
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody:nogroup "$WORK/logs" "$WORK/tmp"
  setpriv --reuid=nobody --regid=nogroup --clear-groups nginx -p "$WORK" -c "$WORK/nginx.conf" -e "$WORK/logs/error.log" &
else
  nginx -p "$WORK" -c "$WORK/nginx.conf" -e "$WORK/logs/error.log" &
fi
NGINX_PID=$!
wait_port "$PORT"

# One timed download; appends "seconds cpu_seconds rss_kib" to $RESULTS.
timed() {
  local tool=$1 url=$2 source=$3
  local out="$WORK/out/file.bin"
  rm -f "$out" "$out.xml" "$out.aria2"
  case $tool in
    ours)  /usr/bin/time -f "%e %U %S %M" -o "$WORK/time" "$TOOL" download "$url" "$out" >"$WORK/tool.log" 2>&1 ||
             { cat "$WORK/tool.log" >&2; die "setup-tool download failed"; } ;;
    curl)  /usr/bin/time -f "%e %U %S %M" -o "$WORK/time" curl -sS -o "$out" "$url" ;;
    aria2) /usr/bin/time -f "%e %U %S %M" -o "$WORK/time" aria2c -x10 -s10 -k1M --quiet=true \
             --allow-overwrite=true --auto-file-renaming=false -d "$WORK/out" -o file.bin "$url" ;;
  esac
  cmp -s "$out" "$source" || die "$tool: downloaded file differs from the original"
  if [ "$tool" = ours ]; then
    REQUESTS=$(sed -n 's/.*average [0-9.]* MB\/s, \([0-9]*\) requests.*/\1/p' "$WORK/tool.log")
  fi
  read -r wall user sys rss < "$WORK/time"
  echo "$wall $(python3 -c "print($user + $sys)") $rss" >> "$RESULTS"
}

# Medians of the runs of one tool: "MB/s cpu rss_mib".
summarise() {
  python3 - "$1" "$2" <<'EOF'
import statistics, sys
size = int(sys.argv[2])
rows = [list(map(float, l.split())) for l in open(sys.argv[1]) if l.strip()]
mbs = statistics.median(size / r[0] / 1e6 for r in rows)
cpu = statistics.median(r[1] for r in rows)
rss = statistics.median(r[2] for r in rows) / 1024
print(f"{mbs:.1f} {cpu:.2f} {rss:.1f}")
EOF
}

profile() {
  local title=$1 url=$2 source=$3
  local size
  size=$(stat -c %s "$source")
  echo
  echo "== $title: $((size / 1048576)) MiB, $RUNS runs each, medians =="
  printf "%-34s %10s %10s %12s\n" tool "MB/s" "CPU s" "peak RSS MiB"
  declare -A MBS CPU
  local label
  for tool in ours curl aria2; do
    RESULTS="$WORK/results.$tool"
    : > "$RESULTS"
    REQUESTS=""
    for _ in $(seq 1 "$RUNS"); do timed "$tool" "$url" "$source"; done
    read -r mbs cpu rss < <(summarise "$RESULTS" "$size")
    MBS[$tool]=$mbs
    CPU[$tool]=$cpu
    case $tool in
      ours)  label="setup-tool download (10 workers)" ;;
      curl)  label="curl -o" ;;
      aria2) label="aria2c -x10 -s10 -k1M" ;;
    esac
    printf "%-34s %10s %10s %12s\n" "$label" "$mbs" "$cpu" "$rss"
    if [ "$tool" = ours ]; then echo "  (setup-tool made $REQUESTS range requests in its last run)"; fi
  done
  python3 - "${MBS[ours]}" "${MBS[curl]}" "${MBS[aria2]}" "${CPU[ours]}" "${CPU[curl]}" "${CPU[aria2]}" <<'EOF'
import sys
o, c, a, oc, cc, ac = map(float, sys.argv[1:])
print(f"throughput ratio: ours/curl {o / c:.2f}, ours/aria2 {o / a:.2f}")
print(f"CPU ratio:        ours/curl {oc / cc if cc else float('inf'):.2f}, ours/aria2 {oc / ac if ac else float('inf'):.2f}")
EOF
}

echo "setup-tool: $TOOL ($(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)), $(nproc) CPUs"
profile "loopback" "http://127.0.0.1:$PORT/big.bin" "$WORK/www/big.bin"

if [ -z "${SKIP_SHAPED:-}" ]; then
  SHAPED_PORT=$(free_port)
  python3 "$SHAPER" "$SHAPED_PORT" 127.0.0.1 "$PORT" --delay-ms 40 --rate-mbs 4 &
  SHAPER_PID=$!
  wait_port "$SHAPED_PORT"
  profile "network profile (shaper.py: 40 ms each way, 4 MiB/s per connection)" \
    "http://127.0.0.1:$SHAPED_PORT/shaped.bin" "$WORK/www/shaped.bin"
fi
