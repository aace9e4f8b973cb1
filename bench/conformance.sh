#!/usr/bin/env bash
# Conformance table: setup-tool download against nginx, Apache httpd and lighttpd over
# HTTP, nginx over HTTPS (a throw-away CA given through CURL_CA_BUNDLE) and the project's
# own test server in its misbehaving modes. Each case downloads a 6 MiB file from a
# throttled server, kills the download with SIGKILL part-way, restarts the server, resumes
# and compares the file byte for byte; the Range requests of both runs are checked in the
# server's own access log. The cases are the network group's ServerConformance tests; this
# script runs them and prints the table (Markdown). Takes about half a minute.
#
# Environment: BUILD_DIR (build, the tests' Debug build; configured by tools/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
TEST="$BUILD_DIR/tests/network_tests"

[ -f "$BUILD_DIR/build.ninja" ] || { echo "conformance: configure $BUILD_DIR first (tools/setup.sh)" >&2; exit 1; }
cmake --build "$BUILD_DIR" --target network_tests >/dev/null

export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
TABLE=$(mktemp /tmp/qv-conformance.XXXXXX)
trap 'rm -f "$TABLE"' EXIT

status=0
QV_CONFORMANCE_TABLE="$TABLE" "$TEST" --gtest_filter="*ServerConformance*" --gtest_brief=1 >&2 || status=$?

# The servers live in /usr/sbin, which a user's PATH may lack (the tests look there too).
PATH=$PATH:/usr/sbin:/sbin
versions() {
  nginx -v 2>&1 | sed -n 's/.*nginx\/\([^ ]*\).*/nginx \1/p'
  apache2 -v 2>/dev/null | sed -n 's/^Server version: Apache\/\([^ ]*\).*/Apache httpd \1/p'
  lighttpd -v 2>/dev/null | sed -n 's/^lighttpd\/\([^ ]*\).*/lighttpd \1/p'
  curl-config --version 2>/dev/null || echo 'libcurl ?'
}

echo "setup-tool $(git rev-parse --short HEAD 2>/dev/null || echo unknown); $(versions | paste -sd, - | sed 's/,/, /g')"
echo
echo "| server | scheme | killed run (SIGKILL) | Range requests: killed / resumed run | resumed file |"
echo "|---|---|---|---|---|"
while IFS='|' read -r server scheme result kill first resumed; do
  echo "| $server | $scheme | $kill | $first / $resumed | $result |"
done < "$TABLE"
exit "$status"
