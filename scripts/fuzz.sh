#!/usr/bin/env bash
# Builds the libFuzzer targets in a clang tree of their own and runs each from the committed seeds.
#   scripts/fuzz.sh short [build-dir]   bounded runs, part of make test
#   scripts/fuzz.sh long  [build-dir]   FUZZ_SECONDS (default 600) per target, for make fuzz
# New inputs go to <build-dir>/corpus/<target>, findings to <build-dir>/artifacts; the committed
# seeds in tests/fuzz/corpus are only read.
set -euo pipefail

mode=${1:-short}
src=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$src/build-fuzz}
case $mode in
short) limits=(-max_total_time=30) ;;
long) limits=(-max_total_time="${FUZZ_SECONDS:-600}") ;;
*)
  echo "usage: $0 short|long [build-dir]" >&2
  exit 2
  ;;
esac

mkdir -p "$build"
if ! cmake -S "$src" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPANELUP_FUZZ=ON -DPANELUP_SANITIZE=OFF -DPANELUP_UEFI_IMAGES=OFF >"$build/configure.log" 2>&1; then
  cat "$build/configure.log"
  exit 1
fi
targets=(arguments format record schedule load_option image catalogue)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_fuzz}"

failed=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  mkdir -p "$corpus" "$build/artifacts"
  dict=()
  [ -f "$src/tests/fuzz/$target.dict" ] && dict=(-dict="$src/tests/fuzz/$target.dict")
  log=$build/$target.log
  # A bounded pass counts runs too: a whole /f takes milliseconds, the formatter microseconds.
  runs=()
  if [ "$mode" = short ]; then
    runs=(-runs=50000)
    [ "$target" = arguments ] || runs=(-runs=1000000)
  fi
  echo "== $target ($mode)"
  if "$build/${target}_fuzz" "${limits[@]}" "${runs[@]}" "${dict[@]}" -max_len=4096 -timeout=20 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
    "$corpus" "$src/tests/fuzz/corpus/$target" >"$log" 2>&1; then
    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added)' "$log" || true
    grep -E '^(#[0-9]+[[:space:]]+DONE)' "$log" || true
  else
    failed=1
    echo "$target: finding, see $log"
    tail -n 60 "$log"
  fi
done
exit $failed
