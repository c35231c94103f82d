#!/usr/bin/env bash
# `make bench`: one markdown report, printed and written to BUILD_DIR/bench.md.
#   scripts/bench.sh BUILD_DIR
# 1. panelup_bench (tests/bench): every catalogue entry flashed on the simulated platform, its bus
#    transactions against the register protocol's floor, modelled bus time and waits, and the
#    pool use of /f 2 6.
# 2. The footprint of BUILD_DIR's Panelup.efi: its sections (llvm-readobj) and the largest static
#    buffers (llvm-nm).
# 3. Wall time of `/f 2 6` in the emulator against the simulated chip (software emulation, one
#    run: a figure to watch, never asserted).
# Exit status: 0 when every count agrees with the floor and the emulator run completed, 1 when
# not, 2 when something needed is missing.
set -uo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: scripts/bench.sh BUILD_DIR}
build=$(cd "$build" 2>/dev/null && pwd) || { echo "bench: no folder $1; build first" >&2; exit 2; }
efi_dir="$build/uefi"
efi="$efi_dir/Panelup.efi"
report="$build/bench.md"

if ! command -v llvm-readobj >/dev/null || ! command -v llvm-nm >/dev/null; then
  echo "bench: llvm-readobj and llvm-nm are missing (Debian package llvm; scripts/install-deps.sh)" >&2
  exit 2
fi
if [[ ! -f $efi ]]; then
  echo "bench: no $efi; build first (make build)" >&2
  exit 2
fi
cmake --build "$build" --target panelup_bench -j"$(nproc)" >&2 || exit 2

tables=$(mktemp)
marks=$(mktemp)
trap 'rm -f "$tables" "$marks"' EXIT

echo "bench: simulated runs" >&2
"$build/panelup_bench" >"$tables"
counts_status=$?
if ((counts_status > 1)); then
  cat "$tables"
  echo "bench: panelup_bench failed with status $counts_status" >&2
  exit 2
fi
# The mandated waits of /f 2 6, as the simulated run counted them (the table's waits column).
waits=$(awk -F'|' '$2 ~ /`\/f 2 6`/ { gsub(/[ s]/, "", $9); print $9 }' "$tables")

# Panelup.efi's sections by what they hold, in the file and loaded, with the catalogue's images
# (their lengths from the manifest the build checks them against) counted out of the read-only
# data; then the largest zero-filled buffers.
footprint() {
  local images file_sum=0 load_sum=0 name raw loaded flags part size image_size
  images=$(awk '$1 ~ /^[0-9]+$/ { sum += $3 } END { print sum }' "$repo/catalogue/images/manifest.txt")
  printf '\n| Part | In the file (bytes) | Loaded (bytes) |\n|---|--:|--:|\n'
  while read -r name raw loaded flags; do
    loaded=$((loaded))
    file_sum=$((file_sum + raw))
    load_sum=$((load_sum + loaded))
    if ((flags & 0x20)); then
      part="Code"
    elif ((flags & 0x80000000)); then
      part="Writable data (buffers zero-filled at load)"
    elif ((flags & 0x02000000)); then
      part="Relocations"
    elif ((images > 0 && raw >= images)); then
      echo "| Read-only data without the images, \`$name\` | $((raw - images)) | $((loaded - images)) |"
      part="Images (the catalogue's)"
      raw=$images
      loaded=$images
      images=0
    else
      part="Read-only data"
    fi
    echo "| $part, \`$name\` | $raw | $loaded |"
  done < <(llvm-readobj --sections "$efi" | awk '$1 == "Name:" { n = $2 } $1 == "VirtualSize:" { v = $2 }
    $1 == "RawDataSize:" { r = $2 } $1 == "Characteristics" { print n, r, v, substr($3, 2, length($3) - 2) }')
  size=$(stat -c %s "$efi")
  image_size=$(llvm-readobj --file-headers "$efi" | awk '$1 == "SizeOfImage:" { print $2 }')
  echo "| Headers and alignment | $((size - file_sum)) | $((image_size - load_sum)) |"
  echo "| **Total** | $size | $image_size |"
  # COFF objects record no symbol sizes, so the sizes come from the host build of the same sources,
  # whose ELF objects do; its sanitizer's own markers (__odr_asan) and the host-only port hook
  # (sim/) are left out.
  printf '\nLargest zero-filled static buffers, at their declared sizes (the tool'"'"'s host objects):\n\n'
  printf '| Buffer | Bytes |\n|---|--:|\n'
  find "$build/CMakeFiles/panelup_host_tool.dir" -name '*.o' ! -path '*/sim/*' -exec llvm-nm -S -C --radix=d --defined-only {} + |
    awk '($3 == "b" || $3 == "B") && $4 !~ /^__odr_asan/' | sed 's/(anonymous namespace):://' |
    sort -k2,2nr | awk '{ name = $0; sub(/^[^ ]+ +[^ ]+ +[^ ]+ +/, "", name); all += $2 }
      NR <= 9 { printf "| `%s` | %d |\n", name, $2 }
      END { printf "\nAll zero-filled statics together: %d bytes.\n", all }'
}

# Emulator: /s twice (the first also warms the emulated disk), then /f 2 6. The serial log is
# watched every 20 ms and each rig marker stamped as it appears, so a command's wall time is the
# time between its end marker and the previous one.
emulator_out="$build/bench-emulator"
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
  footprint
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
