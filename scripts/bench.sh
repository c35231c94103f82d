#!/usr/bin/env bash
# `make bench`: one markdown report, printed and written to BUILD_DIR/bench.md.
#   scripts/bench.sh BUILD_DIR
# 1. Every catalogue entry flashed on the simulated platform (tests/bench): bus transactions
#    against the register protocol's floor, modelled duration at 100 and 400 kHz, host CPU per
#    transaction. CPU time means nothing under the sanitizers, so this part comes from a Release
#    tree of its own without them, BUILD_DIR-bench.
# 2. The footprint of BUILD_DIR's Panelup.efi and of the objects it is linked from.
# 3. Wall time of `/f 2 6` in the emulator against the simulated chip (software emulation, one
#    run: a figure to watch, never asserted).
# Exit status: 0 when every count agrees with the floor and the emulator run completed, 1 when
# not, 2 when something needed is missing.
set -uo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: scripts/bench.sh BUILD_DIR}
build=$(cd "$build" 2>/dev/null && pwd) || { echo "bench: no folder $1; build first" >&2; exit 2; }
bench_tree="$build-bench"
efi_dir="$build/firmware"
objects="$efi_dir/CMakeFiles/panelup_firmware_tool.dir"
report="$build/bench.md"

if [[ ! -f $efi_dir/Panelup.efi || ! -d $objects ]]; then
  echo "bench: $efi_dir has no Panelup.efi or objects; build first (make build)" >&2
  exit 2
fi

echo "bench: building the unsanitised Release tree $bench_tree" >&2
mkdir -p "$bench_tree"
if ! cmake -S "$repo" -B "$bench_tree" -DPANELUP_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release \
  -DPANELUP_UEFI_IMAGES=OFF >"$bench_tree/configure.log" 2>&1; then
  cat "$bench_tree/configure.log" >&2
  exit 2
fi
if ! cmake --build "$bench_tree" --target panelup_bench -j"$(nproc)" >&2; then
  exit 2
fi
if [[ ! -x $bench_tree/panelup_bench ]]; then
  echo "bench: no panelup_bench (is libbenchmark-dev installed? scripts/install-deps.sh)" >&2
  exit 2
fi

tables=$(mktemp)
marks=$(mktemp)
trap 'rm -f "$tables" "$marks"' EXIT

echo "bench: simulated runs and CPU benchmarks" >&2
"$bench_tree/panelup_bench" --efi "$efi_dir/Panelup.efi" --objects "$objects" \
  --min-time "${BENCH_MIN_TIME:-0.2}" >"$tables"
counts_status=$?
if ((counts_status > 1)); then
  cat "$tables"
  echo "bench: panelup_bench failed with status $counts_status" >&2
  exit 2
fi

# The mandated waits of /f 2 6, as the simulated run counted them (the table's waits column).
waits=$(awk -F'|' '$3 ~ /`\/f 2 6`/ { gsub(/[ s]/, "", $14); print $14 }' "$tables")

# Emulator: /s twice (the first also warms the emulated disk), then /f 2 6. The serial log is
# watched every 20 ms and each rig marker stamped as it appears, so a command's wall time is the
# time between its end marker and the previous one.
emulator_out="$bench_tree/emulator"
mkdir -p "$emulator_out"
rm -f "$emulator_out/console.log"
stamp_markers() {
  local seen=0 count
  while :; do
    count=$(grep -ac '::rig:: ' "$emulator_out/console.log" 2>/dev/null)
    [[ $count =~ ^[0-9]+$ ]] || count=0
    while ((seen < count)); do
      seen=$((seen + 1))
      echo "$seen $EPOCHREALTIME"
    done
    sleep 0.02
  done
}

echo "bench: emulator run (about 20 s)" >&2
started=$EPOCHREALTIME
stamp_markers >"$marks" &
watcher=$!
"$repo/scripts/run-emulator.sh" --efi-dir "$efi_dir" --out "$emulator_out" -- \
  "Panelup.efi /s" "Panelup.efi /s" "Panelup.efi /f 2 6" >&2
emulator_status=$?
sleep 0.1
kill "$watcher" 2>/dev/null
wait "$watcher" 2>/dev/null

# Marker 1 is the shell's ready line, markers 2 to 4 the end of each command.
mark() { awk -v k="$1" '$1 == k { print $2 }' "$marks"; }
f_status=$(awk '/^CMD Panelup.efi \/f 2 6$/ {
    getline; status = $2; getline; sub(/^EC ?/, ""); print "exit " status ", EC " $0 }' \
  "$emulator_out/results.txt" 2>/dev/null)

{
  echo "## Panelup bench"
  echo
  cat "$tables"
  echo
  echo "### Emulator timing"
  echo
  if ((emulator_status == 0)) && [[ -n $(mark 4) && -n $waits ]]; then
    awk -v start="$started" -v ready="$(mark 1)" -v s1="$(mark 2)" -v s2="$(mark 3)" \
      -v f="$(mark 4)" -v waits="$waits" -v result="$f_status" 'BEGIN {
      printf "QEMU software emulation (TCG) with OVMF, SimChip.efi behind the SMBus; one run, so a figure to watch, not to assert.\n\n"
      printf "| Measure | Wall time |\n|---|--:|\n"
      printf "| `/f 2 6` (%s) | %.2f s |\n", result, f - s2
      printf "| `/f 2 6` minus the mandated waits (%.3f s) | %.2f s |\n", waits, f - s2 - waits
      printf "| `/s`, for scale (load, bus search, version read) | %.2f s |\n", s2 - s1
      printf "| Boot to the shell prompt | %.1f s |\n", ready - start
      printf "\nTimes are taken between the rig'\''s end markers on the serial console, checked every 20 ms; each includes loading Panelup.efi from the emulated disk.\n"
    }'
  else
    echo "Not measured: the emulator run did not complete (status $emulator_status; see $emulator_out)."
  fi
} | tee "$report"
echo "bench: report written to $report" >&2

if ((counts_status != 0 || emulator_status != 0)); then
  exit 1
fi
