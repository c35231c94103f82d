#!/usr/bin/env bash
# The recovery stick in OVMF under QEMU: the stick image is the machine's only disk, its
# startup.nsh runs at boot. SimChip.efi is loaded anew at each boot, so every boot meets the
# simulated chip as at power-on; what a boot did is read from the stick (panelup.log,
# panelup.done) and the EC port.
#
#   stick_test.sh EFI_DIR OUT_DIR
set -euo pipefail
efi_dir=${1:?usage: stick_test.sh EFI_DIR OUT_DIR}
out=${2:?usage: stick_test.sh EFI_DIR OUT_DIR}
repo=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$out"
mkdir -p "$out"

failures=0
check() { # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else
    echo "FAIL $what"
    failures=$((failures + 1))
  fi
}

# One boot of the stick image; the EC bytes land in $out/NAME.ec (hex, space separated).
boot() { # image name
  cp /usr/share/OVMF/OVMF_VARS_4M.fd "$out/$2.vars.fd"
  timeout --kill-after=5 150 qemu-system-x86_64 -machine q35 -accel tcg -m 256 -no-reboot \
    -nic none -display none \
    -drive "if=pflash,format=raw,unit=0,readonly=on,file=/usr/share/OVMF/OVMF_CODE_4M.fd" \
    -drive "if=pflash,format=raw,unit=1,file=$out/$2.vars.fd" -drive "file=$1,format=raw" \
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
setup() { # image, then the shell lines sim-setup.nsh runs before the tool
  local image=$1
  shift
  printf '%s\r\n' "$@" >"$out/sim-setup.nsh"
  mcopy -o -i "$image" "$out/sim-setup.nsh" ::/sim-setup.nsh
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

# A stick whose first update fails (a flash bit stuck) retries on the next boot.
retry=$out/retry.img
"$repo/scripts/make-stick.sh" --sim "$efi_dir" 2 6 "$retry" 2>/dev/null
setup "$retry" "load SimChip.efi" "simctl fault stuck 0 01"
boot "$retry" retry-1
check "failing boot: update failed (EC 8B 8C)" ec_is retry-1 "8B 8C"
check "failing boot: status 0xF8 logged" log_has "$retry" "exit status of Panelup.efi /f 2 6: 0xF8"
check "failing boot: no done-marker" no_marker "$retry"
setup "$retry" "load SimChip.efi"
boot "$retry" retry-2
check "next boot: tried again and passed (EC 8B 8A)" ec_is retry-2 "8B 8A"
check "next boot: two updates in the log" test "$(flash_runs "$retry")" -eq 2
check "next boot: done-marker written" has_marker "$retry"

echo "$failures failed"
[ "$failures" -eq 0 ]
