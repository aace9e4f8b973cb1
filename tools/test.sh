#!/usr/bin/env bash
# Sets everything up (tools/setup.sh), checks that every include points down the layers,
# then runs the whole test suite through CTest, under a virtual X server so the GUI tests
# have a display. Ends with the wall time it took.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
tools/setup.sh
built=$(date +%s)
python3 tools/check_layers.py
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
# symbolize=0: matching the leak suppressions would otherwise make every program that drew
# text read the sanitizer run-time's own debug information at exit (about 0.8 s of
# processor time per window test). Reports still name each frame's module and offset, and
# failed tests are run once more below with symbolized reports.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:symbolize=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# -noreset: the server would reset whenever its last client leaves and refuse connections
# meanwhile, so a GUI test starting Setup right after the previous one ended could fail.
# Twice as many tests as cores: most of them wait on servers, timers and child processes,
# and none asserts a duration, so the cores stay busy without slowing any test to failure.
status=0
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
  ctest --test-dir build --output-on-failure -j "$(( $(nproc) * 2 ))" "$@" || status=$?
if [ "$status" -ne 0 ] && [[ "$ASAN_OPTIONS" == *symbolize=0* ]]; then
  # For readable stack traces only: the verdict stays the first run's.
  echo "test.sh: running the failed tests again with symbolized sanitizer reports"
  ASAN_OPTIONS=${ASAN_OPTIONS//symbolize=0/symbolize=1} xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
    ctest --test-dir build --output-on-failure --rerun-failed -j "$(nproc)" || true
fi
ended=$(date +%s)
echo "test.sh: wall time $((ended - started)) s (set-up and build $((built - started)) s," \
     "tests $((ended - built)) s), exit $status"
exit $status
