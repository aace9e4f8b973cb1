#!/usr/bin/env bash
# Processor time of a stalled download: setup-tool download (Release, 10 workers) against a
# server on 127.0.0.1 that answers every range with its headers and then says nothing.
# The tool gives up after QV_TEST_STALL_LIMIT_MS (10 s here) of no progress; the figure is
# the user + system seconds it used meanwhile. A driver or worker that spins shows up here
# as seconds; a quiet one stays at a few hundredths.
#
# Environment: STALL_MS (10000), RUNS (3), TOOL (a setup-tool other than the Release one).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
STALL_MS=${STALL_MS:-10000}
RUNS=${RUNS:-3}
TOOL=${TOOL:-"$ROOT/build-release/setup-tool"}

die() { echo "bench: $*" >&2; exit 1; }
command -v python3 >/dev/null || die "python3 is not installed"
[ -x /usr/bin/time ] || die "/usr/bin/time is not installed (Debian package: time)"
if [ ! -x "$TOOL" ]; then
  echo "bench: building a Release setup-tool in build-release/" >&2
  [ -f build-release/build.ninja ] ||
    cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_SANITIZE=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build build-release --target setup-tool >/dev/null
fi

WORK=$(mktemp -d /tmp/qv-stall.XXXXXX)
SERVER_PID=
cleanup() { [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT

cat > "$WORK/server.py" <<'PY'
import http.server, socketserver, sys, time
SIZE = 20 * 1048576
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *args): pass
    def do_HEAD(self):
        self.send_response(200)
        self.send_header("Content-Length", str(SIZE))
        self.end_headers()
    def do_GET(self):
        first, last = self.headers.get("Range", "bytes=0-").split("=")[1].split("-")
        last = min(int(last or SIZE - 1), SIZE - 1)
        self.send_response(206)
        self.send_header("Content-Range", "bytes %s-%d/%d" % (first, last, SIZE))
        self.send_header("Content-Length", str(last - int(first) + 1))
        self.end_headers()
        self.wfile.flush()
        time.sleep(120)
class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
python3 "$WORK/server.py" > "$WORK/port" &
SERVER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.05; done
PORT=$(cat "$WORK/port")
[ -n "$PORT" ] || die "the stalling server did not start"

echo "setup-tool: $TOOL, $(nproc) CPUs, stall limit ${STALL_MS} ms"
for run in $(seq "$RUNS"); do
  rm -f "$WORK/f.bin" "$WORK/f.bin.xml"
  QV_TEST_STALL_LIMIT_MS=$STALL_MS /usr/bin/time -f "%U %S %e" -o "$WORK/time" \
    "$TOOL" download "http://127.0.0.1:$PORT/f.bin" "$WORK/f.bin" >/dev/null 2>&1 || true
  awk -v run="$run" 'NF == 3 && $1 ~ /^[0-9.]+$/ { printf "run %d: %.2f s wall, %.3f s processor (user %.3f + system %.3f)\n", run, $3, $1 + $2, $1, $2 }' "$WORK/time"
done
