#!/usr/bin/env bash
# Sets everything up (tools/setup.sh), then runs the whole test suite through CTest,
# under a virtual X server so the GUI tests have a display.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# -noreset: the server would reset whenever its last client leaves and refuse connections
# meanwhile, so a GUI test starting Setup right after the previous one ended could fail.
exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
  ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
