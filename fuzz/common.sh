# Shared by the fuzz/run_*_fuzzers.sh scripts, which source it after setting ROOT (the
# repository) and OUT (their work folder): building the fuzzers (the CMake targets of
# fuzz/CMakeLists.txt, in a clang build of their own) and one timed fuzzer run.

# build_fuzzers TARGET...: configures a clang build with the fuzzers (QV_FUZZ) in
# $OUT/build once, then builds the named fuzzers there; each ends up as $OUT/build/fuzz/TARGET_fuzzer.
build_fuzzers() {
  if [ ! -f "$OUT/build/build.ninja" ]; then
    cmake -S "$ROOT" -B "$OUT/build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_FUZZ=ON -DBUILD_TESTING=OFF \
      -DCMAKE_CXX_COMPILER="${CXX:-clang++}" -DCMAKE_C_COMPILER="${CC:-clang}" \
      -DCMAKE_CXX_FLAGS="-O1" -DCMAKE_C_FLAGS="-O1" >/dev/null
  fi
  local targets=()
  for target in "$@"; do targets+=("${target}_fuzzer"); done
  cmake --build "$OUT/build" --target "${targets[@]}"
}

# run_fuzzer TARGET MAXLEN STATS: runs the built $OUT/build/fuzz/TARGET_fuzzer for SECONDS_EACH
# seconds on $OUT/corpus/TARGET, with crash inputs going to $OUT/artifacts/TARGET-*,
# prints the lines of its log matching STATS, and sets status=1 when the fuzzer failed.
run_fuzzer() {
  local target=$1 maxlen=$2 stats=$3
  echo "== ${target}_fuzzer for ${SECONDS_EACH}s"
  if ! "$OUT/build/fuzz/${target}_fuzzer" -max_total_time="$SECONDS_EACH" -max_len="$maxlen" -rss_limit_mb=2048 -timeout=10 \
       -artifact_prefix="$OUT/artifacts/${target}-" -print_final_stats=1 "$OUT/corpus/$target" 2>"$OUT/${target}.log"; then
    status=1
  fi
  tail -n 12 "$OUT/${target}.log" | grep -E "$stats" || true
}

# finish FOUND: the verdict of the run, from status and whether crash inputs were kept.
finish() {
  if [ "$status" -ne 0 ] || [ "$1" -ne 0 ]; then
    echo "fuzzing found problems; see $OUT/*.log"
    exit 1
  fi
  echo "no findings"
}
