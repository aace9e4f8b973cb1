#!/usr/bin/env bash
# Builds the libFuzzer targets of the skin package reader and the markup reader with
# clang (-fsanitize=fuzzer,address,undefined) and runs each for a while (60 s by default).
# Crash inputs are copied into tests/regressions/ui/, which the ui tests replay.
# Not part of CI. Usage: fuzz/run_ui_fuzzers.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_EACH=${1:-60}
OUT=${FUZZ_BUILD_DIR:-/tmp/qv-ui-fuzz}
mkdir -p "$OUT/obj" "$OUT/corpus/package" "$OUT/corpus/markup" "$OUT/artifacts"

CXX=${CXX:-clang++}
FLAGS=(-std=c++20 -g -O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
       -I"$ROOT" -I"$ROOT/src" -DELPP_THREAD_SAFE -DELPP_NO_DEFAULT_LOG_FILE -DELPP_DISABLE_DEFAULT_CRASH_HANDLING)
SOURCES=(ui/*.cpp platform/Clock.cpp src/log/ProcessLogger.cpp fuzz/FuzzStubs.cpp)

objects=()
for src in "${SOURCES[@]}"; do
  obj="$OUT/obj/$(echo "$src" | tr / _).o"
  if [ ! -f "$obj" ] || [ "$ROOT/$src" -nt "$obj" ]; then
    "$CXX" "${FLAGS[@]}" -c "$ROOT/$src" -o "$obj"
  fi
  objects+=("$obj")
done
elpp="$OUT/obj/easylogging.o"
[ -f "$elpp" ] || "$CXX" "${FLAGS[@]}" -w -c /usr/include/easylogging++.cc -o "$elpp"
objects+=("$elpp")

# Seeds: the fixture layouts and packages, and the executable's own package when built.
cp "$ROOT"/tests/fixtures/ui/skin/*.xml "$ROOT"/tests/fixtures/ui/skin/language/*.xml "$OUT/corpus/markup/" 2>/dev/null || true
[ -d "$ROOT/skin" ] && find "$ROOT/skin" -name '*.xml' -size -64k -exec cp {} "$OUT/corpus/markup/" \; || true
if [ -f "$ROOT/build/skin.zip" ]; then cp "$ROOT/build/skin.zip" "$OUT/corpus/package/skin.zip"; fi
(cd "$ROOT/tests/fixtures/ui/skin" && python3 - "$OUT/corpus/package/fixtures.zip" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for d, _, files in os.walk("."):
        for f in sorted(files):
            p = os.path.join(d, f)[2:]
            z.write(p, p, zipfile.ZIP_DEFLATED if f.endswith(".xml") else zipfile.ZIP_STORED)
PY
)

status=0
for target in package markup; do
  bin="$OUT/${target}_fuzzer"
  "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer "$ROOT/fuzz/${target}_fuzzer.cpp" "${objects[@]}" -lz -lpthread -o "$bin"
  maxlen=65536
  [ "$target" = markup ] && maxlen=16384
  echo "== ${target}_fuzzer for ${SECONDS_EACH}s"
  if ! "$bin" -max_total_time="$SECONDS_EACH" -max_len="$maxlen" -rss_limit_mb=2048 -timeout=10 \
       -artifact_prefix="$OUT/artifacts/${target}-" -print_final_stats=1 "$OUT/corpus/$target" 2>"$OUT/${target}.log"; then
    status=1
  fi
  tail -n 12 "$OUT/${target}.log" | grep -E 'stat::|Done|ERROR|SUMMARY' || true
done

found=0
for crash in "$OUT"/artifacts/*; do
  [ -e "$crash" ] || continue
  cp "$crash" "$ROOT/tests/regressions/ui/"
  echo "kept $(basename "$crash") in tests/regressions/ui/"
  found=1
done
if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
  echo "fuzzing found problems; see $OUT/*.log"
  exit 1
fi
echo "no findings"
