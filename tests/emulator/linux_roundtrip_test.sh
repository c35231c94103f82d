#!/usr/bin/env bash
# panelupctl from a running Linux, in OVMF under QEMU, with nobody at the console: no key is
# ever sent. Linux schedules Panelup.efi /f 2 6 for the next boot, the firmware runs it
# (SimChip.efi loaded from a driver option), and the tool ends that boot by itself:
#   run 1: Linux (schedule, default --then reboot), the update and a reset, Linux (the result;
#          schedule --then power-cycle), the update and a power-off: QEMU exits.
#   run 2: QEMU started again on the same disk and variable store, standing in for the wake
#          alarm: Linux (the result; the driver option now fails the bus; schedule), the failed
#          update and a reset, Linux (the result; the boot unit's command), power off.
# What each Linux boot did is read afterwards from the disk's ESP (linux_roundtrip_guest.sh
# writes it there); what the tool did, from the serial console and the EC port.
#
#   linux_roundtrip_test.sh EFI_DIR DEB OUT_DIR [CACHE_DIR]
#   EFI_DIR holds SimChip.efi; DEB is the package whose panelupctl, unit and image the guest uses.
#   CACHE_DIR keeps the unpacked kernel package between runs (default: OUT_DIR/../linux-cache).
set -euo pipefail
usage="usage: linux_roundtrip_test.sh EFI_DIR DEB OUT_DIR [CACHE_DIR]"
efi_dir=${1:?$usage}
deb=${2:?$usage}
out=${3:?$usage}
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
cache=${4:-$(dirname "$out")/linux-cache}

# shellcheck source=checks.sh
. "$here/checks.sh"

started=$(date +%s)
disk=$out/disk.img
"$repo/scripts/make-linux-disk.sh" --cache "$cache" --scenario "$here/linux_roundtrip_guest.sh" \
  "$efi_dir" "$deb" "$disk"
built=$(date +%s)
# The build the record must name: the mark in the packaged image, which the guest stages.
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/lib/panelup/Panelup.efi >"$out/Panelup.efi"
build_id=$(grep -a -o -m 1 'panelup-build/1 id=[A-Za-z0-9.+_-]*' "$out/Panelup.efi" | sed 's/.*id=//')
build_re=$(printf '%s' "$build_id" | sed 's/[.+]/\\&/g')

# boot_machine N SECONDS: one QEMU process on the disk and vars.fd until the machine powers off;
# console-N.log, ec-N.bin. Sets ended[N]: off (QEMU exited by itself), menu (the firmware
# opened its menu, which waits for a key nobody presses: stopped at once), timeout, or QEMU's
# failure.
declare -A ended
boot_machine() {
  local n=$1 log=$out/console-$1.log pid status=0
  : >"$log"
  timeout --kill-after=5 "$2" qemu-system-x86_64 -machine q35 -accel tcg -m 512 -nic none \
    -display none -monitor none \
    -drive "if=pflash,format=raw,unit=0,readonly=on,file=/usr/share/OVMF/OVMF_CODE_4M.fd" \
    -drive "if=pflash,format=raw,unit=1,file=$out/vars.fd" \
    -drive "if=virtio,format=raw,file=$disk" \
    -device isa-debugcon,iobase=0x66,chardev=ec -chardev "file,id=ec,path=$out/ec-$n.bin" \
    -serial "file:$log" &
  pid=$!
  ended[$n]=off
  while kill -0 "$pid" 2>/dev/null; do
    if grep -aq 'starting Boot[0-9A-F]\{4\} "UiApp"' "$log"; then
      ended[$n]=menu
      kill "$pid" 2>/dev/null || true
      echo "run $n: the firmware opened its menu and waits for a key: stopped (see $log)"
      break
    fi
    sleep 1
  done
  wait "$pid" || status=$?
  if [ "${ended[$n]}" = off ] && { [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; }; then
    ended[$n]=timeout
    echo "run $n: the machine did not power off by itself within $2 s (see $log); its last lines:"
    tail -c 2000 "$log" | tr -d '\r' | grep -a -v '^$' | tail -n 8 | cut -c1-160 | sed 's/^/  /'
  elif [ "${ended[$n]}" = off ] && [ "$status" -ne 0 ]; then
    ended[$n]="QEMU status $status"
  fi
  touch "$out/ec-$n.bin"
}

cp /usr/share/OVMF/OVMF_VARS_4M.fd "$out/vars.fd"
# Four boots in run 1, three in run 2; both limits together stay inside ctest's 600 s.
boot_machine 1 340
run1=$(date +%s)
# The machine is off; its alarm would switch it on again. The rig does so at once.
[ "${ended[1]}" != off ] || boot_machine 2 200
finished=$(date +%s)
# Now and then the emulated machine freezes while the test's Linux runs a command (even the guest's
# own time limit on it never fires), which is no fault of panelupctl or Panelup.efi: the round
# trip starts once more from a new disk. A hang anywhere else, or a second freeze, fails.
frozen_in_linux() { # run
  [ "${ended[$1]:-}" = timeout ] &&
    tail -c 2000 "$out/console-$1.log" | tr -d '\r' | grep -a -v '^$' | tail -n 1 |
    grep -aq '^-- boot[0-9]* [a-z0-9-]*: starting$'
}
if [ -z "${PANELUP_LINUX_RETRIED:-}" ] && { frozen_in_linux 1 || frozen_in_linux 2; }; then
  echo "the emulated machine froze while Linux ran a command: the round trip once more"
  PANELUP_LINUX_RETRIED=1 exec bash "$0" "$@"
fi
mcopy -s -n -i "$disk@@1M" ::/panelup-test "$out/" 2>/dev/null || true
ec_is() { [ "$(od -An -v -tx1 "$out/ec-$1.bin" | tr 'a-f' 'A-F' | xargs)" = "$2" ]; }
nothing_after() { # run, text: the text is there, and no boot option started after it
  grep -aq "$2" "$out/console-$1.log" &&
    ! sed -n "/$2/,\$p" "$out/console-$1.log" | grep -aq "BdsDxe: starting"
}
# The tool's VTQ_003C lines of a run, joined by ";", against a regular expression: how it ended
# each boot.
endings_match() { # run, expression
  local text
  text=$(grep -a -o 'VTQ_003C  [[:print:]]*' "$out/console-$1.log" 2>/dev/null | sed 's/ *$//' |
    paste -sd ';')
  [[ $text =~ $2 ]]
}
stamp='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}'

b() { echo "$out/panelup-test/boot$1"; }
exit_is() { grep -qx "$2 exit=$3" "$(b "$1")/results.txt" 2>/dev/null; }
fact_is() { grep -qx "$2=$3" "$(b "$1")/results.txt" 2>/dev/null; }
says() { grep -Fq -- "$3" "$(b "$1")/$2.txt" 2>/dev/null; }
says_line() { grep -Fqx -- "$3" "$(b "$1")/$2.txt" 2>/dev/null; }
says_re() { grep -Eq -- "$3" "$(b "$1")/$2.txt" 2>/dev/null; }
lists() { grep -q -- "$3" "$(b "$1")/$2.boot" 2>/dev/null; }
# The case's SMBus transfers were exactly those of /s.
read_as_s() { [ "$(smbus_transfers <"$(b "$1")/$2.trace")" = "$inventory_sequence" ]; }
same_entries() { cmp -s "$(b "$1")/$2.boot" "$(b "$1")/$3.boot"; }
# Numbers of the entries labelled "Panelup update" in a listing, and its BootNext.
ours() { sed -n 's/^Boot\([0-9A-F]\{4\}\)\*\{0,1\} Panelup update\(\t.*\)\{0,1\}$/\1/p' "$(b "$1")/$2.boot"; }
next_of() { sed -n 's/^BootNext: \([0-9A-F]\{4\}\)$/\1/p' "$(b "$1")/$2.boot"; }
order_of() { sed -n 's/^BootOrder: //p' "$(b "$1")/$2.boot"; }
one_entry_next() { # boot, listing: exactly one entry of ours, BootNext on it, not in BootOrder
  local n
  n=$(ours "$1" "$2")
  [ "$(printf '%s\n' "$n" | grep -c .)" -eq 1 ] && [ "$(next_of "$1" "$2")" = "$n" ] &&
    [[ ",$(order_of "$1" "$2")," != *",$n,"* ]]
}
none_left() { [ -z "$(ours "$1" "$2")" ] && [ -z "$(next_of "$1" "$2")" ]; }
# The file the boot unit's command saved, as one exact line: boot, exit, result, then, attempts.
saved_is() {
  grep -Eqx "\{\"cid\":2,\"pid\":6,\"exit\":$2,\"result\":\"$3\",\"from\":\"02\.06\.12\",\"to\":\"02\.06\.19\",\"time\":\"[0-9T:-]{19}\",\"then\":\"$4\",\"attempts\":$5,\"build\":\"$build_re\",\"running\":null,\"new_firmware_running\":null\}" \
    "$(b "$1")/last-result.json" 2>/dev/null
}

check "the image carries a build mark" test -n "$build_id"
check "run 1 ended with the machine off by itself (it ended: ${ended[1]})" test "${ended[1]}" = off
check "run 2 ended with the machine off by itself (it ended: ${ended[2]:-not run})" \
  test "${ended[2]:-not run}" = off
for n in 1 2 3 4; do check "boot $n of Linux ran the scenario" test -f "$(b $n)/results.txt"; done
check "the tool reset after the good update, powered off after the power-cycle one (alarm set)" \
  endings_match 1 "^VTQ_003C  then=reboot;VTQ_003C  then=power-cycle, on again at $stamp\$"
check "run 1 ends at the tool's power-off: nothing started after it" \
  nothing_after 1 "VTQ_003C  then=power-cycle"
check "the tool reset after the failed update" endings_match 2 "^VTQ_003C  then=reboot\$"

# Boot 1: nothing run yet, then a record planted by hand stands for an old one.
check "panelupctl is the package's" fact_is 1 panelupctl /usr/sbin/panelupctl
for n in 1 2 3 4; do
  check "boot $n: the bridge's stand-in has the registers SimChip.efi published" fact_is $n stub loaded
done
check "inventory before: the panel 2/6 runs 02.06.12, update available, read with the sequence of /s" \
  eval 'exit_is 1 inventory-before 0 && says 1 inventory-before "\"result\":\"update-available\"" && says 1 inventory-before "\"running\":{\"cid\":2,\"pid\":6,\"txx\":12,\"version\":\"02.06.12\"}" && read_as_s 1 inventory-before'
check "status without a record: exit 3, says so" \
  eval 'exit_is 1 status-none 3 && says 1 status-none "No result"'
check "status --json of a record without a bus: exit 24, nulls for what the run never read" \
  eval 'exit_is 1 status-planted 24 && says_line 1 status-planted "{\"cid\":2,\"pid\":6,\"exit\":24,\"result\":\"no-smbus-controller\",\"from\":null,\"to\":null,\"time\":null,\"then\":null,\"attempts\":null,\"build\":null,\"running\":null,\"new_firmware_running\":null}"'
check "schedule 2 256: exit 2, names the PID, entries unchanged" \
  eval 'exit_is 1 bad-pid 2 && says 1 bad-pid "PID must be a decimal number from 0 to 255" && same_entries 1 before-bad bad-pid'
check "schedule x 6: exit 2, names the CID, entries unchanged" \
  eval 'exit_is 1 bad-cid 2 && says 1 bad-cid "CID must be a decimal number from 0 to 255" && same_entries 1 before-bad bad-cid'
check "schedule --esp /nonexistent: exit 1, entries unchanged" \
  eval 'exit_is 1 bad-esp 1 && says 1 bad-esp "no EFI system partition at /nonexistent" && same_entries 1 before-bad bad-esp'
check "schedule with the ESP unmounted: exit 1, entries unchanged" \
  eval 'exit_is 1 no-esp 1 && says 1 no-esp "no EFI system partition is mounted" && same_entries 1 before-bad no-esp'
check "schedule without a pair, nothing at 0x2B of the chipset's SMBus: exit 6, entries unchanged" \
  eval 'exit_is 1 no-bridge 6 && says 1 no-bridge "{\"result\":\"no-bridge\",\"changed\":false," && same_entries 1 before-bad no-bridge'
check "schedule 1 3 for a panel 2/6: exit 1, names the panel's pair, entries unchanged" \
  eval 'exit_is 1 other-pair 1 && says 1 other-pair "is CID/PID 2/6 and runs 02.06.12, not 1/3" && same_entries 1 before-bad other-pair'
check "... scheduled with --force" exit_is 1 schedule-1-3 0
check "schedule removes the old record" fact_is 1 record-after-schedule absent
check "schedule without a pair takes the panel's 2/6: one object, scheduled" \
  says_line 1 schedule-replace "{\"result\":\"scheduled\",\"changed\":true,\"cid\":2,\"pid\":6,\"running\":\"02.06.12\",\"target\":\"02.06.19\",\"then\":\"reboot\",\"attempts\":3}"
check "a second schedule replaces the first: one entry, BootNext on it, not in BootOrder" \
  eval 'exit_is 1 schedule-1-3 0 && exit_is 1 schedule-replace 0 && one_entry_next 1 replaced'
check "cancel removes the entry and BootNext" eval 'exit_is 1 cancel 0 && none_left 1 cancelled'
check "schedule 2 6: one entry for \\EFI\\Panelup\\Panelup.efi, BootNext on it" \
  eval 'exit_is 1 schedule 0 && one_entry_next 1 scheduled && lists 1 scheduled "Panelup update.*EFI.Panelup.Panelup.efi"'

# Boot 2: the update ran at the reboot and reset the machine.
check "round 1 unit: condition met, exit 0, success; saved 02.06.12 to 02.06.19, then=reboot" \
  eval 'fact_is 2 unit-condition yes && exit_is 2 unit 0 && fact_is 2 unit-result success && saved_is 2 0 success reboot 1'
check "round 1 unit removed the entry and the staged image" \
  eval 'none_left 2 after-unit && fact_is 2 staged-after-unit absent'
check "round 1 status: exit 0, restarted, the chip still runs 02.06.12 until a power-off" \
  eval 'exit_is 2 status 0 && says_re 2 status "before: +02\.06\.12" && says_re 2 status "written: +02\.06\.19" && says 2 status "afterwards the tool:      restarted the machine" && says 2 status "The panel still runs 02.06.12: the new firmware starts after the next power-off and power-on"'
check "round 1 status --json: running 02.06.12, new_firmware_running false" \
  says 2 status-json "\"running\":{\"cid\":2,\"pid\":6,\"txx\":12,\"version\":\"02.06.12\"},\"new_firmware_running\":false}"
check "inventory after the reset: still update-available, 02.06.12 running" \
  eval 'says 2 inventory-reset "\"result\":\"update-available\"" && says 2 inventory-reset "\"version\":\"02.06.12\"},\"catalogue\""'
check "round 2 scheduled with --then power-cycle" exit_is 2 schedule 0

# Boot 3: the update ran, powered the machine off; the rig switched it on.
check "round 2 status: exit 0, powered off and on, the chip answers the new firmware" \
  eval 'exit_is 3 status 0 && says 3 status "afterwards the tool:      powered the machine off and on again" && says 3 status "The panel runs its new firmware: the chip answers 02.06.19."'
check "round 2 status --json: running 02.06.19, new_firmware_running true" \
  says 3 status-json "\"running\":{\"cid\":2,\"pid\":6,\"txx\":19,\"version\":\"02.06.19\"},\"new_firmware_running\":true}"
check "inventory after the power cycle: current, read with the sequence of /s" \
  eval 'exit_is 3 inventory-after 0 && says 3 inventory-after "\"result\":\"current\"" && read_as_s 3 inventory-after'
check "schedule on a current panel: exit 0, changed false, nothing scheduled" \
  eval 'exit_is 3 schedule-current 0 && says_line 3 schedule-current "{\"result\":\"current\",\"changed\":false,\"cid\":2,\"pid\":6,\"running\":\"02.06.19\",\"target\":\"02.06.19\"}" && same_entries 3 before-current after-current'
check "round 3 scheduled with --reflash (the default, reboot)" exit_is 3 schedule 0

# Boot 4: the bus failed from transaction 12000 on, during the firmware write; given up.
check "round 3 status --keep: exit 248, failed, restarted" \
  eval 'exit_is 4 status 248 && says 4 status "update failed" && says 4 status "afterwards the tool:      restarted the machine"'
check "round 3 status --keep removed the entry, kept the staged image" \
  eval 'none_left 4 after-status && fact_is 4 staged-after-status present'
check "round 3 unit: condition met, exit 248, failed; saved compare-failed, then=reboot, 1 attempt" \
  eval 'fact_is 4 unit-condition yes && exit_is 4 unit 248 && fact_is 4 unit-result failed && saved_is 4 248 compare-failed reboot 1'
check "removing the package with an update scheduled cancels it: no entry, no BootNext, no image" \
  eval 'exit_is 4 schedule-before-remove 0 && exit_is 4 prerm 0 && none_left 4 after-prerm && fact_is 4 staged-after-prerm absent'
check "EC port: rounds 1 and 2 passed (8B 8A twice), round 3 failed (8B 8C)" \
  eval 'ec_is 1 "8B 8A 8B 8A" && ec_is 2 "8B 8C"'

for n in 1 3; do
  name=inventory-before
  [ $n = 1 ] || name=inventory-after
  echo "---- boot $n: panelupctl inventory --json --adapter \"SMBus stub driver\""
  grep '^{' "$(b $n)/$name.txt" 2>/dev/null || echo "(none)"
  echo "     its transfers: $(smbus_transfers <"$(b $n)/$name.trace" 2>/dev/null)"
done
for n in 2 3 4; do
  echo "---- boot $n: panelupctl status"
  cat "$(b $n)/status.txt" 2>/dev/null || echo "(none)"
done
for n in 2 4; do
  echo "---- boot $n: the unit's command"
  cat "$(b $n)/unit.txt" 2>/dev/null || echo "(none)"
done
echo "disk built in $((built - started)) s, run 1 (4 boots) in $((run1 - built)) s," \
  "run 2 (3 boots) in $((finished - run1)) s"
echo "$failures failed"
[ "$failures" -eq 0 ]
