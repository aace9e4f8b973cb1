#!/usr/bin/env bash
# End-to-end benchmark of an unattended install: `Setup /S` (Release) from start to exit,
# for a 64 MiB signed product on the uniform profile (../shared/bench/shaper.py: 40 ms each
# way, 4 MiB/s per connection). The configuration comes from the local maker service
# (build/qv-demo-service); it names two locations of the installer, each behind its own
# shaper in front of one nginx, so the speed test measures two locations; then Setup
# downloads, checks the digest and the signature, and runs the installer.
#
# Prints, as medians of the runs, where the time went, stage by stage from Setup's log,
# against the sum of the speed test, a bare download of the same file (setup-tool download,
# same profile) and the installer's own run; and, from nginx's access log, how many bytes
# the download stage asked for that the winning location's speed test had already fetched.
#
#   bench/install.sh              3 runs (about 1.5 minutes here)
#   RUNS=1 bench/install.sh
#   PRODUCT_MIB=64                size of the product installer
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
RUNS=${RUNS:-3}
PRODUCT_MIB=${PRODUCT_MIB:-64}
SHAPER="$ROOT/../shared/bench/shaper.py"
SHAPING="--delay-ms 40 --rate-mbs 4"

die() { echo "bench: $*" >&2; exit 1; }
for cmd in nginx python3 cmp openssl; do
  command -v "$cmd" >/dev/null || die "$cmd is not installed (tools/setup.sh installs it)"
done
[ -f "$SHAPER" ] || die "the uniform profile needs $SHAPER (the shared bench folder beside the repository)"
[ -f build/build.ninja ] || die "run tools/setup.sh first: the maker service is built in build/"
cmake --build build --target qv-demo-service MorvikBackup >/dev/null
if [ ! -f build-release/build.ninja ]; then
  echo "bench: configuring a Release build in build-release/" >&2
  cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_SANITIZE=OFF -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build build-release --target Setup setup-tool >/dev/null
SETUP="$ROOT/build-release/Setup"
TOOL="$ROOT/build-release/setup-tool"

WORK=$(mktemp -d /tmp/qv-bench-install.XXXXXX)
chmod 755 "$WORK"
pids=()
SHAPERS=()
stop_pids() {
  local pid
  for pid in "$@"; do kill "$pid" 2>/dev/null || true; done
  for pid in "$@"; do wait "$pid" 2>/dev/null || true; done
}
stop_shapers() {
  stop_pids "${SHAPERS[@]}"
  SHAPERS=()
}
cleanup() {
  stop_shapers
  stop_pids "${pids[@]}"
  rm -rf "$WORK"
}
trap cleanup EXIT

# free_port, wait_port, start_nginx
source "$ROOT/bench/nginx.sh"
now() { date +%s.%N; }

# The product: the sample product padded with random bytes (an ELF file runs with data
# after its end) to PRODUCT_MIB, in a real signed installer.
mkdir -p "$WORK/www/a" "$WORK/www/b" "$WORK/logs" "$WORK/tmp" "$WORK/product"
INSTALLER="$WORK/www/a/MorvikBackupSetup.exe"
cp build/sample/MorvikBackup "$WORK/product/MorvikBackup"
sh tools/sample-product/make_installer.sh "$WORK/product/MorvikBackup" "$INSTALLER" >/dev/null
# Random bytes do not compress: the installer grows by what is added.
pad=$((PRODUCT_MIB * 1048576 - $(stat -c %s "$INSTALLER") - 64))
if [ "$pad" -gt 0 ]; then
  head -c "$pad" /dev/urandom >> "$WORK/product/MorvikBackup"
  sh tools/sample-product/make_installer.sh "$WORK/product/MorvikBackup" "$INSTALLER" >/dev/null
fi
ln "$INSTALLER" "$WORK/www/b/MorvikBackupSetup.exe"
chmod 644 "$INSTALLER"
SIZE=$(stat -c %s "$INSTALLER")

PORT=$(free_port)
start_nginx "$WORK" "$PORT" "$WORK/logs/access.log"
pids+=("$NGINX_PID")

# The two shaped locations keep their ports across runs; the shapers are started afresh
# for every run.
PORT_A=$(free_port)
PORT_B=$(free_port)
URL_A="http://127.0.0.1:$PORT_A/a/MorvikBackupSetup.exe"
URL_B="http://127.0.0.1:$PORT_B/b/MorvikBackupSetup.exe"
start_shapers() {
  local port
  for port in "$@"; do
    # shellcheck disable=SC2086
    python3 "$SHAPER" "$port" 127.0.0.1 "$PORT" $SHAPING &
    SHAPERS+=($!)
  done
  for port in "$@"; do wait_port "$port"; done
}

build/qv-demo-service --installer "$INSTALLER" --env-file "$WORK/service.env" \
  --download-url "$URL_A" --extra-download-url "$URL_B" > "$WORK/service.log" 2>&1 &
pids+=($!)
# The Debug service reads and hashes the 64 MiB installer first (about 20 s here).
for _ in $(seq 900); do [ -f "$WORK/service.env" ] && break; sleep 0.1; done
[ -f "$WORK/service.env" ] || die "the maker service did not start (see $WORK/service.log)"
# shellcheck disable=SC1091
. "$WORK/service.env"

echo "Setup: $SETUP ($(git rev-parse --short HEAD 2>/dev/null || echo unknown)), $(nproc) CPUs"
echo "product: $(python3 -c "print(f'{$SIZE / 1048576:.1f}')") MiB signed installer; two locations, each behind shaper.py $SHAPING; $RUNS runs"

ROWS="$WORK/rows"
: > "$ROWS"
for run in $(seq 1 "$RUNS"); do
  state="$WORK/run$run"
  mkdir -p "$state/home" "$state/tmp" "$state/registry" "$state/install"

  # 1. Setup /S end to end.
  start_shapers "$PORT_A" "$PORT_B"
  : > "$WORK/logs/access.log"
  began=$(now)
  HOME="$state/home" TMPDIR="$state/tmp" QV_REGISTRY_DIR="$state/registry" TZ=UTC LANG=C.UTF-8 \
    XDG_CONFIG_HOME="$state/home/.config" XDG_STATE_HOME="$state/home/.local/state" \
    "$SETUP" /S "/DIR=$state/install" > "$state/setup.out" 2>&1 ||
    { tail -n 30 "$state/setup.out" >&2; die "Setup /S failed in run $run"; }
  ended=$(now)
  stop_shapers
  cp "$WORK/logs/access.log" "$state/access.log"
  log=$(find "$state/tmp" -name 'MorvikBackupSetup*.exe.log' | head -n 1)
  [ -n "$log" ] || die "no Setup log in run $run"
  downloaded=$(find "$state/tmp" -name 'MorvikBackupSetup*.exe' | head -n 1)
  cmp -s "$downloaded" "$INSTALLER" || die "run $run: the downloaded installer differs from the original"

  # 2. A bare download of the same file on the same profile.
  start_shapers "$PORT_A"
  rm -f "$WORK/bare.bin" "$WORK/bare.bin.xml"
  b0=$(now)
  "$TOOL" download "$URL_A" "$WORK/bare.bin" > "$WORK/bare.log" 2>&1 || { cat "$WORK/bare.log" >&2; die "setup-tool download failed"; }
  b1=$(now)
  stop_shapers
  cmp -s "$WORK/bare.bin" "$INSTALLER" || die "the bare download differs from the original"

  # 3. The installer alone.
  rm -rf "$state/alone"
  i0=$(now)
  sh "$INSTALLER" /VERYSILENT /SP- /NORESTART "/DIR=$state/alone" || die "the installer failed on its own"
  i1=$(now)
  rm -rf "$state/alone" "$state/install"

  python3 - "$log" "$state/access.log" "$began" "$ended" "$b0" "$b1" "$i0" "$i1" "$SIZE" >> "$ROWS" <<'EOF'
import datetime, re, sys
log, access = sys.argv[1], sys.argv[2]
began, ended, b0, b1, i0, i1 = map(float, sys.argv[3:9])
size = int(sys.argv[9])
marks = {}
pattern = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d),(\d{3})--\[Thread\]\([^)]*\) (.*)$")
keys = [("config", " Unattended install of "), ("speed_begin", " isForbidCDN: "),
        ("speed_end", " Speed-Test Totally Take "), ("download_end", " Download Totally Takes about "),
        ("install_begin", " [Start Install CmdLine]: "), ("install_end", " Install Totally Take ")]
winner = None
for line in open(log, encoding="utf-8", errors="replace"):
    m = pattern.match(line.rstrip("\n"))
    if not m:
        continue
    t = datetime.datetime.strptime(m.group(1), "%Y-%m-%d %H:%M:%S").replace(
        tzinfo=datetime.timezone.utc).timestamp() + int(m.group(2)) / 1000
    text = m.group(3)
    for key, prefix in keys:
        if text.startswith(prefix) and key not in marks:
            marks[key] = t
    if text.startswith(" UrlUsed: "):
        winner = "/a/" if "/a/" in text else "/b/"
missing = [k for k, _ in keys if k not in marks]
if missing:
    sys.exit(f"bench: the Setup log lacks {missing}")
# Bytes each stage asked for: a request logged before the end of the speed test belongs to
# it (every speed-test response is over by then), a later one to the download.
speed, download = [], []
for line in open(access):
    m = re.match(r'^([\d.]+) (\S+) (\d+) (\d+) "([^"]*)"$', line.strip())
    if not m or m.group(2) != winner + "MorvikBackupSetup.exe":
        continue
    t, status, sent, rng = float(m.group(1)), int(m.group(3)), int(m.group(4)), m.group(5)
    r = re.match(r"bytes=(\d+)-", rng)
    start = int(r.group(1)) if r else 0
    if sent == 0 or status not in (200, 206):
        continue
    (speed if t <= marks["speed_end"] else download).append((start, start + sent))
def merged(spans):
    out = []
    for a, b in sorted(spans):
        if out and a <= out[-1][1]:
            out[-1][1] = max(out[-1][1], b)
        else:
            out.append([a, b])
    return out
def overlap(xs, ys):
    total = 0
    for a, b in xs:
        for c, d in ys:
            total += max(0, min(b, d) - max(a, c))
    return total
sp, dl = merged(speed), merged(download)
fields = dict(
    total=ended - began,
    config=marks["config"] - began,
    prepare=marks["speed_begin"] - marks["config"],
    speed=marks["speed_end"] - marks["speed_begin"],
    download=marks["download_end"] - marks["speed_end"],
    checks=marks["install_begin"] - marks["download_end"],
    installer=marks["install_end"] - marks["install_begin"],
    ending=ended - marks["install_end"],
    bare=b1 - b0, alone=i1 - i0,
    winner_speed_mib=sum(b - a for a, b in sp) / 1048576,
    download_mib=sum(b - a for a, b in dl) / 1048576,
    again_mib=overlap(sp, dl) / 1048576,
)
print(" ".join(f"{k}={v:.3f}" for k, v in fields.items()))
EOF
  echo "run $run: $(tail -n 1 "$ROWS")"
done

python3 - "$ROWS" "$SIZE" <<'EOF'
import statistics, sys
rows = [dict((k, float(v)) for k, v in (f.split("=") for f in line.split())) for line in open(sys.argv[1]) if line.strip()]
size = int(sys.argv[2])
med = {k: statistics.median(r[k] for r in rows) for k in rows[0]}
print()
print(f"== Setup /S, {size / 1048576:.0f} MiB, uniform profile: medians of {len(rows)} runs ==")
stages = [("configuration (start to configuration loaded)", "config"),
          ("checks and preparation before the speed test", "prepare"),
          ("speed test of two locations", "speed"),
          ("download", "download"),
          ("digest and signature checks", "checks"),
          ("installer", "installer"),
          ("end (events sent, exit)", "ending")]
for label, key in stages:
    print(f"  {label:<48} {med[key]:7.2f} s")
print(f"  {'total':<48} {med['total']:7.2f} s")
print()
print(f"  bare download (setup-tool download)              {med['bare']:7.2f} s")
print(f"  installer on its own                             {med['alone']:7.2f} s")
base = med["speed"] + med["bare"] + med["alone"]
print(f"  speed test + bare download + installer           {base:7.2f} s")
print(f"  Setup /S above that sum                          {med['total'] - base:7.2f} s   (goal: at most 1.5 s)")
print()
print(f"  nginx sent the winner's speed test {med['winner_speed_mib']:.1f} MiB and the download stage "
      f"{med['download_mib']:.1f} MiB; {med['again_mib']:.2f} MiB went to both")
print("  (what went to both was sent to the speed test but still in buffers, nginx's, the kernel's or the")
print("  shaper's, when the test stopped: it never reached Setup's file, so the download asked for it)")
EOF
