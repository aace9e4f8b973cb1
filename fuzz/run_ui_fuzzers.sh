#!/usr/bin/env bash
# Builds the libFuzzer targets of the skin package reader and the markup reader (a clang
# build with -DQV_FUZZ=ON, fuzzer,address,undefined) and runs each for a while (60 s by default).
# Crash inputs are copied into tests/regressions/ui/, which the ui tests replay.
# Not part of CI. Usage: fuzz/run_ui_fuzzers.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_EACH=${1:-60}
OUT=${FUZZ_BUILD_DIR:-/tmp/qv-ui-fuzz}
mkdir -p "$OUT/corpus/package" "$OUT/corpus/markup" "$OUT/artifacts"

source "$ROOT/fuzz/common.sh"

build_fuzzers package markup

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
  maxlen=65536
  [ "$target" = markup ] && maxlen=16384
  run_fuzzer "$target" "$maxlen" 'stat::|Done|ERROR|SUMMARY'
done

found=0
for crash in "$OUT"/artifacts/*; do
  [ -e "$crash" ] || continue
  cp "$crash" "$ROOT/tests/regressions/ui/"
  echo "kept $(basename "$crash") in tests/regressions/ui/"
  found=1
done
finish "$found"
