#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs each one, one after the other, for SECONDS seconds on a corpus kept in the build
# directory and seeded from fuzz/corpus/<target>/. Prints per target the executions and what
# it found; exits non-zero when any target found a fault. Without clang it only says so.
#
#   fuzz/run.sh SECONDS            build directory build/fuzz (or $CHATROOM_FUZZ_BUILD)
set -euo pipefail

targets=(text_operations to_number word_library keyword_matcher marker_lookup http_request websocket_frames room_path)

if [ $# -ne 1 ] || ! [[ $1 =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 SECONDS" >&2
  exit 2
fi
duration=$1
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CHATROOM_FUZZ_BUILD:-$root/build/fuzz}

if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
  echo "fuzz: clang not found, fuzz targets skipped"
  exit 0
fi
# clang without its runtime libraries (libclang-rt) cannot link a fuzzer.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null; then
  echo "fuzz: clang cannot link libFuzzer (libclang-rt missing?), fuzz targets skipped"
  exit 0
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCHATROOM_FUZZ=ON -DCHATROOM_TESTS=OFF -DCHATROOM_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j 2 --target chatroom_fuzzers >/dev/null

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  log=$build/logs/$target.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  cp -n "$root/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
  touch "$probe/started"

  status=0
  # libFuzzer stops itself after max_total_time; the outer timeout only guards against a hang.
  timeout $((duration * 2 + 120)) "$build/fuzz/fuzz_$target" -max_total_time="$duration" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1 || status=$?

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ -z "$executions" ]; then
    executions=$(grep -oE '^#[0-9]+' "$log" | tail -n 1 | tr -d '#' || true)
  fi
  found=$(find "$findings" -type f -newer "$probe/started" | sort)
  if [ "$status" -eq 0 ] && [ -z "$found" ]; then
    echo "fuzz $target: ${executions:-?} executions, nothing found"
  else
    failed=1
    echo "fuzz $target: ${executions:-?} executions, FAULT FOUND (exit $status), log $log"
    grep -m 5 -E 'FUZZ CHECK FAILED|ERROR:|runtime error' "$log" | sed 's/^/  /' || true
    for file in $found; do
      echo "  reproduce: $build/fuzz/fuzz_$target $file"
    done
  fi
done
exit "$failed"
