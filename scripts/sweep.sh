#!/usr/bin/env bash
# The full fault sweep: every fault kind at every transaction index of whole /f 2 6 and /f 1 3
# runs, split over SWEEP_SHARDS processes (default 2), then one combined summary.
#   scripts/sweep.sh BUILD_DIR
# The sanitised sample runs in BUILD_DIR's tests; the full sweep is some 650 000 whole runs, so it
# comes from an unsanitised Release tree of its own, BUILD_DIR-sweep.
# Each shard's progress goes to the terminal, its own summary to BUILD_DIR/sweep/full-I.log; the
# combined summary to the terminal and BUILD_DIR/sweep/full-summary.txt. Exit status: 0 when every
# run kept the rules, non-zero when a rule broke, a shard crashed or a report is missing.
set -uo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: scripts/sweep.sh BUILD_DIR}
tree="${build%/}-sweep"
sweep=$tree/panelup_fault_sweep
shards=${SWEEP_SHARDS:-2}
dir=$build/sweep
mkdir -p "$dir" "$tree"

echo "sweep: building the unsanitised Release tree $tree" >&2
if ! cmake -S "$repo" -B "$tree" -DPANELUP_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release \
  -DPANELUP_UEFI_IMAGES=OFF >"$tree/configure.log" 2>&1; then
  cat "$tree/configure.log" >&2
  exit 2
fi
cmake --build "$tree" --target panelup_fault_sweep -j"$(nproc)" >&2 || exit 2

start=$SECONDS
echo "fault sweep: every index, every kind, /f 2 6 and /f 1 3, $shards processes"
pids=()
reports=()
for ((i = 0; i < shards; i++)); do
  reports+=("$dir/full-$i.report")
  "$sweep" --all --shard "$i/$shards" --report "$dir/full-$i.report" >"$dir/full-$i.log" &
  pids+=($!)
done

failed=0
for i in "${!pids[@]}"; do
  wait "${pids[$i]}"
  status=$?
  # 1 is a broken rule, reported in the summary; anything else is a crash or bad use.
  if ((status != 0 && status != 1)); then
    echo "sweep: shard $i/$shards stopped with status $status (see $dir/full-$i.log)" >&2
    failed=1
  fi
done

"$sweep" --combine "${reports[@]}" | tee "$dir/full-summary.txt"
combined=${PIPESTATUS[0]}
echo "fault sweep: $((SECONDS - start)) s on $shards processes" | tee -a "$dir/full-summary.txt"
if ((failed || combined != 0)); then
  exit 1
fi
