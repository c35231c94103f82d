#!/usr/bin/env bash
# The full fault sweep: every fault kind at every transaction index of whole /f 2 6 and /f 1 3
# runs, split over SWEEP_SHARDS processes (default 2), then one combined summary.
#   scripts/sweep.sh BUILD_DIR
# Each shard's progress goes to the terminal, its own summary to BUILD_DIR/sweep/full-I.log; the
# combined summary to the terminal and BUILD_DIR/sweep/full-summary.txt. Exit status: 0 when every
# run kept the rules, non-zero when a rule broke, a shard crashed or a report is missing.
set -uo pipefail

build=${1:?usage: scripts/sweep.sh BUILD_DIR}
sweep=$build/panelup_fault_sweep
shards=${SWEEP_SHARDS:-2}
dir=$build/sweep
mkdir -p "$dir"

if [[ ! -x $sweep ]]; then
  echo "sweep: $sweep is missing; build first (make build)" >&2
  exit 2
fi

echo "fault sweep: every index, all four kinds, /f 2 6 and /f 1 3, $shards processes"
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
if ((failed || combined != 0)); then
  exit 1
fi
