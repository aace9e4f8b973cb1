#!/usr/bin/env bash
# Builds the libFuzzer targets of the embedded-signature reader and the download task-file
# reader (a clang build with -DQV_FUZZ=ON, fuzzer,address,undefined) and runs each for a while (60 s
# by default). Crash inputs are copied into tests/regressions/signature/ and
# tests/regressions/taskfile/, which the verify tests replay.
# Not part of CI. Usage: fuzz/run_verify_fuzzers.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_EACH=${1:-60}
OUT=${FUZZ_BUILD_DIR:-/tmp/qv-verify-fuzz}
# Findings of an earlier run were already kept; start each run with none.
rm -rf "$OUT/artifacts" "$OUT/fixtures"
mkdir -p "$OUT/corpus/signature" "$OUT/corpus/taskfile" "$OUT/artifacts" "$OUT/tmp"

source "$ROOT/fuzz/common.sh"

build_fuzzers signature taskfile

# Seeds: freshly signed fixtures, and a task file as a download writes it.
"$ROOT/tests/fixtures/signing/make_fixtures.sh" "$OUT/fixtures" >/dev/null
cp "$OUT"/fixtures/*.exe "$OUT"/fixtures/installer-*.sh "$OUT/corpus/signature/"
cat > "$OUT/corpus/taskfile/seed.xml" <<'XML'
<TaskInfo>
    <TasksCount>2</TasksCount>
    <ContentLength>1500000</ContentLength>
    <DownloadTime>1234</DownloadTime>
    <Task>
        <StartPos>0</StartPos>
        <EndPos>1048575</EndPos>
        <DownloadedPos>1048575</DownloadedPos>
        <RemotePath>http://127.0.0.1/setup.exe</RemotePath>
        <LocalPath>/tmp/setup.exe</LocalPath>
        <TaskStatus>3</TaskStatus>
        <TaskId>1</TaskId>
        <RequestTimes>1</RequestTimes>
    </Task>
    <Task>
        <StartPos>1048576</StartPos>
        <EndPos>1500000</EndPos>
        <DownloadedPos>1100000</DownloadedPos>
        <RemotePath>http://127.0.0.1/setup.exe</RemotePath>
        <LocalPath>/tmp/setup.exe</LocalPath>
        <TaskStatus>1</TaskStatus>
        <TaskId>2</TaskId>
        <RequestTimes>4</RequestTimes>
    </Task>
</TaskInfo>
XML

status=0
for target in signature taskfile; do
  maxlen=16384
  [ "$target" = taskfile ] && maxlen=8192
  TMPDIR="$OUT/tmp" run_fuzzer "$target" "$maxlen" 'stat::number_of_executed_units|Done|ERROR|SUMMARY'
done

found=0
for crash in "$OUT"/artifacts/*; do
  [ -e "$crash" ] || continue
  name=$(basename "$crash")
  target=${name%%-*}
  mkdir -p "$ROOT/tests/regressions/$target"
  cp "$crash" "$ROOT/tests/regressions/$target/"
  echo "kept $name in tests/regressions/$target/"
  found=1
done
finish "$found"
