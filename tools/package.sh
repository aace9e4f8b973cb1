#!/usr/bin/env bash
# Builds an optimised, sanitizer-free Setup and setup-tool in build-release/ and packs
# them into a .deb (build-release/quorvane-setup_<version>_<arch>.deb).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh >/dev/null   # packages (and the debug build the tests use)
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_SANITIZE=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build build-release --target Setup setup-tool
(cd build-release && cpack -G DEB >/dev/null)
ls -1 build-release/*.deb
