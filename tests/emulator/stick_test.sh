#!/usr/bin/env bash
# The recovery stick in OVMF under QEMU: the stick image is the machine's only disk, its
# startup.nsh runs at boot. Each stick keeps its machine from boot to boot, as a real one would:
# the variable store (with the key-area backup) carries over, and so does the simulated chip's
# flash where a boot hands it over (simctl persist in sim-teardown.nsh; SimChip.efi takes it
# back at its next load). What a boot did is read from the stick (panelup.log, panelup.done) and
# the EC port.
#
#   stick_test.sh EFI_DIR OUT_DIR
set -euo pipefail
efi_dir=${1:?usage: stick_test.sh EFI_DIR OUT_DIR}
out=${2:?usage: stick_test.sh EFI_DIR OUT_DIR}
repo=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$out"
mkdir -p "$out"

# shellcheck source=checks.sh
. "$repo/tests/emulator/checks.sh"

# One boot of the stick image on the machine of that stick (its variable store); the EC bytes
# land in $out/NAME.ec (hex, space separated).
boot() { # image name
  local vars="$1.vars.fd"
  [ -f "$vars" ] || cp /usr/share/OVMF/OVMF_VARS_4M.fd "$vars"
  timeout --kill-after=5 150 qemu-system-x86_64 -machine q35 -accel tcg -m 256 -no-reboot \
    -nic none -display none \
    -drive "if=pflash,format=raw,unit=0,readonly=on,file=/usr/share/OVMF/OVMF_CODE_4M.fd" \
    -drive "if=pflash,format=raw,unit=1,file=$vars" -drive "file=$1,format=raw" \
    -device isa-debugcon,iobase=0x66,chardev=ec -chardev "file,id=ec,path=$out/$2.ec.bin" \
    -serial "file:$out/$2.console.log" || echo "boot $2 did not power off by itself"
  touch "$out/$2.ec.bin"
  od -An -v -tx1 "$out/$2.ec.bin" | tr 'a-f' 'A-F' | xargs >"$out/$2.ec"
}
ec_is() { [ "$(cat "$out/$1.ec")" = "$2" ]; }
log_of() { mtype -i "$1" ::/panelup.log; }
# grep -q stops reading at its first match: with pipefail a pipe into it could fail for that.
log_has() { grep -Fq -- "$2" <(log_of "$1" | tr -d '\r'); }
flash_runs() { log_of "$1" | grep -c "exit status of Panelup.efi /f 2 6:" || true; }
has_marker() { grep -q '/panelup.done$' <(mdir -b -i "$1" ::/); }
no_marker() { ! has_marker "$1"; }
# script image name, then the shell lines of sim-setup.nsh (before the tool) or sim-teardown.nsh
# (before the power-off); none: the script is removed.
script() {
  local image=$1 name=$2
  shift 2
  if [ $# -eq 0 ]; then
    mdel -i "$image" "::/$name.nsh" 2>/dev/null || true
    return
  fi
  printf '%s\r\n' "$@" >"$out/$name.nsh"
  mcopy -o -i "$image" "$out/$name.nsh" "::/$name.nsh"
}

# A stick that flashes on the first boot and does nothing on the second.
good=$out/good.img
"$repo/scripts/make-stick.sh" --sim "$efi_dir" 2 6 "$good" 2>/dev/null
boot "$good" good-1
check "first boot: update passed (EC 8B 8A)" ec_is good-1 "8B 8A"
first_log_complete() {
  log_has "$good" "On board = [ 02.06.12 ]" && log_has "$good" "exit status of Panelup.efi /s: 0x16" &&
    log_has "$good" "VTQ_005C Compare  pass!" && log_has "$good" "exit status of Panelup.efi /f 2 6: 0x0"
}
check "first boot: the log holds /s, the update and both statuses" first_log_complete
check "first boot: done-marker written" has_marker "$good"
boot "$good" good-2
check "second boot: nothing sent to the EC" ec_is good-2 ""
check "second boot: logged, nothing flashed" log_has "$good" "panelup.done is present: flashed before"
check "second boot: still one update in the log" test "$(flash_runs "$good")" -eq 1

# The power fails during the firmware write; the machine is off until the next boot from the
# stick, which finds the backup and the chip's half-written flash and recovers.
cut=$out/cut.img
"$repo/scripts/make-stick.sh" --sim "$efi_dir" 2 6 "$cut" 2>/dev/null
script "$cut" sim-setup "load SimChip.efi" "simctl fault bus-fail-from 12000"
script "$cut" sim-teardown "simctl persist"
boot "$cut" cut-1
check "cut boot: update failed (EC 8B 8C)" ec_is cut-1 "8B 8C"
check "cut boot: status 0xF8 logged" log_has "$cut" "exit status of Panelup.efi /f 2 6: 0xF8"
check "cut boot: no done-marker" no_marker "$cut"
script "$cut" sim-setup "load SimChip.efi"
script "$cut" sim-teardown
boot "$cut" cut-2
check "next boot: key area restored from the backup" log_has "$cut" "VTQ_002B  HdcpKey restored from backup"
check "next boot: passed (EC 8B 8A)" ec_is cut-2 "8B 8A"
check "next boot: two updates in the log" test "$(flash_runs "$cut")" = 2
check "next boot: done-marker written" has_marker "$cut"

# A blank key area and no backup: nothing is erased, the stick keeps trying at later boots.
blank=$out/blank.img
"$repo/scripts/make-stick.sh" --sim "$efi_dir" 2 6 "$blank" 2>/dev/null
script "$blank" sim-setup "load SimChip.efi" "simctl keyarea blank"
boot "$blank" blank-1
check "blank key area: stopped before the erase (EC 8B)" ec_is blank-1 "8B"
check "blank key area: the reason logged" \
  log_has "$blank" "HdcpKey blank (18 of 18 pages) and no backup"
check "blank key area: 254 logged" log_has "$blank" "exit status of Panelup.efi /f 2 6: 0xFE"
check "blank key area: no done-marker" no_marker "$blank"

echo "$failures failed"
[ "$failures" -eq 0 ]
