# Shared by the fuzz/run_*_fuzzers.sh scripts, which source it after setting ROOT (the
# repository) and OUT (their build folder): the compiler and its flags, objects built
# once and rebuilt when their source changes, and one timed fuzzer run.

CXX=${CXX:-clang++}
FLAGS=(-std=c++20 -g -O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
       -I"$ROOT" -I"$ROOT/src" -DELPP_THREAD_SAFE -DELPP_NO_DEFAULT_LOG_FILE -DELPP_DISABLE_DEFAULT_CRASH_HANDLING)

# build_objects NAME SOURCE...: compiles each source (a path under ROOT) into $OUT/obj
# unless its object is newer, and sets the array NAME to the objects.
build_objects() {
  local -n result=$1
  shift
  result=()
  for src in "$@"; do
    local obj="$OUT/obj/$(echo "$src" | tr / _).o"
    if [ ! -f "$obj" ] || [ "$ROOT/$src" -nt "$obj" ]; then
      "$CXX" "${FLAGS[@]}" -c "$ROOT/$src" -o "$obj"
    fi
    result+=("$obj")
  done
}

# build_easylogging: sets ELPP_OBJ to the logging library's object, built once.
build_easylogging() {
  ELPP_OBJ="$OUT/obj/easylogging.o"
  [ -f "$ELPP_OBJ" ] || "$CXX" "${FLAGS[@]}" -w -c /usr/include/easylogging++.cc -o "$ELPP_OBJ"
}

# run_fuzzer TARGET MAXLEN STATS: runs the built $OUT/TARGET_fuzzer for SECONDS_EACH
# seconds on $OUT/corpus/TARGET, with crash inputs going to $OUT/artifacts/TARGET-*,
# prints the lines of its log matching STATS, and sets status=1 when the fuzzer failed.
run_fuzzer() {
  local target=$1 maxlen=$2 stats=$3
  echo "== ${target}_fuzzer for ${SECONDS_EACH}s"
  if ! "$OUT/${target}_fuzzer" -max_total_time="$SECONDS_EACH" -max_len="$maxlen" -rss_limit_mb=2048 -timeout=10 \
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
