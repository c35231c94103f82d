#!/usr/bin/env bash
# The full fault sweep: the test cases labelled sweep-full, one per target and fault kind, each
# running every index of its kind on whole /f 2 6 or /f 1 3 runs, run by ctest in parallel.
#   scripts/sweep.sh BUILD_DIR
# The sanitised quick tier runs in BUILD_DIR's tests; the full sweep is some 440 000 whole runs,
# so it comes from an unsanitised Release tree of its own, BUILD_DIR-sweep, configured with
# PANELUP_SWEEP_FULL. ctest reports each case with its time (a failed case with its output), then
# each case's totals follow; its whole summary, by phase, is in that tree's
# Testing/Temporary/LastTest.log. Exit status: ctest's, 0 when every run kept the rules.
set -uo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: scripts/sweep.sh BUILD_DIR}
tree="${build%/}-sweep"
mkdir -p "$tree"

echo "sweep: building the unsanitised Release tree $tree" >&2
if ! cmake -S "$repo" -B "$tree" -DPANELUP_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release \
  -DPANELUP_UEFI_IMAGES=OFF -DPANELUP_SWEEP_FULL=ON >"$tree/configure.log" 2>&1; then
  cat "$tree/configure.log" >&2
  exit 2
fi
cmake --build "$tree" --target panelup_fault_sweep -j"$(nproc)" >&2 || exit 2

start=$SECONDS
ctest --test-dir "$tree" -L '^sweep-full$' -j"$(nproc)" --output-on-failure
status=$?
# Each case's totals; its outcomes by phase are in ctest's log.
log=$tree/Testing/Temporary/LastTest.log
grep -E '^(Fault sweep of|[a-z]+-[a-z-]+: |  (phase|all) |false successes|retries that|violations)' "$log"
echo "fault sweep: $((SECONDS - start)) s on $(nproc) cores; each case's summary in $log"
exit $status
