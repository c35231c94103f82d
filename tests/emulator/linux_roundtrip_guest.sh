#!/usr/bin/env bash
# Runs inside the test disk's Linux at every boot (make-linux-disk.sh's /init starts it from the
# ESP). It records facts and leaves the judging to linux_roundtrip_test.sh: each case's console
# text and exit status, and efibootmgr listings, go to the serial console and to
# \panelup-test\bootN\ on the ESP. panelupctl and its unit are the Debian package's, unpacked
# where dpkg puts them. Nobody is at the console: each update ends its boot by itself.
#
# At every boot the bridge's stand-in, i2c-stub, is loaded with the registers the simulated chip
# holds (SimChip.efi publishes them), so panelupctl reads what the UEFI side left; the driver
# option keeps the chip across boots.
#   boot 1: boot and driver options for the rig; inventory; status without a record; a planted
#           record that schedule must remove; bad input; no bridge; another panel's pair;
#           schedule, replace without a pair, cancel; schedule without a pair (the default
#           --then reboot); reboot
#   boot 2: (Panelup.efi /f 2 6 ran, then reset the machine) the unit's command; status: the
#           old firmware still runs; inventory; schedule --then power-cycle; reboot (the tool
#           then powers the machine off, and the rig starts it again in the alarm's place)
#   boot 3: status: the new firmware runs; inventory: current; schedule leaves it alone; the
#           driver option now fails the bus; schedule --reflash; reboot
#   boot 4: (the update failed, then reset the machine) status --keep; the unit's command;
#           schedule, then the package's prerm as dpkg runs it on remove; power off
# The rig's Panelup.efi is a test build, which schedule stages only with --test-images.
set -uo pipefail # not -e: a failing case is a fact to record, not the end of the boot

esp=/boot/efi
t=$esp/panelup-test
out=/tmp/out
record=/sys/firmware/efi/efivars/PanelupResult-c9cb406d-1006-4f44-a948-50e9b1c0b402
unit=/lib/systemd/system/panelup-result.service
boot=$(($(cat "$t/boot" 2>/dev/null || echo 0) + 1))
echo "$boot" >"$t/boot"
sync
mkdir -p "$out"

# run NAME COMMAND...: its text into NAME.txt and the console, its status into results.txt. The
# start line and the time limit name a command that hangs, and let the boot go on (exit 143).
run() {
  local name=$1 status
  shift
  echo "-- boot$boot $name: starting"
  timeout -k 5 90 "$@" >"$out/$name.txt" 2>&1
  status=$?
  echo "== boot$boot $name: $* (exit $status)"
  cat "$out/$name.txt"
  echo "$name exit=$status" >>"$out/results.txt"
}
fact() { echo "$1=$2" >>"$out/results.txt"; }
# traced NAME COMMAND...: run, with the kernel's record of its SMBus transfers in NAME.trace.
tracing=/sys/kernel/tracing
traced() {
  echo >"$tracing/trace"
  run "$@"
  grep -o 'smbus_[a-z]*: i2c-[0-9]* .*' "$tracing/trace" >"$out/$1.trace"
}
listing() { efibootmgr >"$out/$1.boot" 2>&1; }
present() { if [ -e "$1" ]; then echo present; else echo absent; fi; }
# Driver options go by number; the rig's one is labelled SimChip.
simchip_driver() { # optional data, or nothing
  local num
  for num in $(efibootmgr -r | sed -n 's/^Driver\([0-9A-F]\{4\}\)\*\{0,1\} SimChip.*/\1/p'); do
    efibootmgr -q -r -b "$num" -B
  done
  efibootmgr -q -r -c -d /dev/vda -p 1 -l '\SimChip.efi' -L SimChip ${1:+-u "$1"}
}
# The installed unit as systemd would start it here (systemd does not run in this initramfs):
# when one of its trigger conditions holds, its StateDirectory made, its ExecStart split at
# blanks and run without a shell; its output is what the journal would show. unit-result is
# systemd's verdict: success for exit 0 or a SuccessExitStatus, failed otherwise.
run_unit() {
  local condition met=no state command status ok verdict=failed
  while read -r condition; do
    [ ! -e "$condition" ] || met=yes
  done < <(sed -n 's/^ConditionPathExists=|//p' "$unit")
  fact unit-condition "$met"
  state=$(sed -n 's/^StateDirectory=//p' "$unit")
  mkdir -p "/var/lib/$state"
  command=$(sed -n 's/^ExecStart=//p' "$unit")
  read -ra command <<<"$command"
  run unit "${command[@]}"
  status=$(sed -n 's/^unit exit=//p' "$out/results.txt")
  for ok in 0 $(sed -n 's/^SuccessExitStatus=//p' "$unit"); do
    [ "$status" != "$ok" ] || verdict=success
  done
  fact unit-result "$verdict"
  sed 's/^/panelup-result.service: /' "$out/unit.txt"
  echo "panelup-result.service: exit status $status, $verdict"
  cp "/var/lib/$state/last-result.json" "$out/last-result.json" 2>/dev/null
}
end_boot() { # reboot | poweroff
  mkdir -p "$t/boot$boot"
  cp "$out"/* "$t/boot$boot/"
  echo "== boot$boot done, $1"
  sync
  umount "$esp"
  "$1" -f
}

fact panelupctl "$(command -v panelupctl)"
mount -t tracefs tracefs "$tracing" 2>/dev/null
for e in smbus_write smbus_read smbus_result; do echo 1 >"$tracing/events/smbus/$e/enable"; done
# shellcheck source=bridge-stub.sh
. /lib/bridge-stub.sh
if load_bridge_stub /lib/modules; then fact stub loaded; else fact stub missing; fi
stub=(--adapter "SMBus stub driver")
case "$boot" in
1)
  # Linux first in BootOrder, so the machine comes back here after Panelup.efi.
  efibootmgr -q -c -d /dev/vda -p 1 -l '\vmlinuz' -L Linux -u 'initrd=\initrd.img console=ttyS0 quiet panic=1'
  simchip_driver keep
  traced inventory-before panelupctl inventory --json "${stub[@]}"
  run status-none panelupctl status

  printf '\007\000\000\000%s' 'panelup-result/1 cid=2 pid=6 exit=24 from=none to=none time=none' >"$record"
  run status-planted panelupctl status --json

  listing before-bad
  run bad-pid panelupctl schedule 2 256 --test-images
  listing bad-pid
  run bad-cid panelupctl schedule x 6 --test-images
  listing bad-cid
  run bad-esp panelupctl schedule 2 6 --test-images --esp /nonexistent
  listing bad-esp
  umount "$esp"
  run no-esp panelupctl schedule 2 6 --test-images
  mount -t vfat /dev/vda1 "$esp"
  listing no-esp

  # The chipset's own SMBus has nothing at 0x2B: no pair to take.
  run no-bridge panelupctl schedule --test-images --json
  listing no-bridge
  run other-pair panelupctl schedule 1 3 --test-images "${stub[@]}"
  listing other-pair
  run schedule-1-3 panelupctl schedule 1 3 --test-images --force "${stub[@]}"
  fact record-after-schedule "$(present "$record")"
  run schedule-replace panelupctl schedule --test-images --json "${stub[@]}"
  listing replaced
  run cancel panelupctl cancel
  listing cancelled
  run schedule panelupctl schedule --test-images "${stub[@]}"
  efibootmgr -v >"$out/scheduled.boot" 2>&1
  end_boot reboot
  ;;
2)
  run_unit
  listing after-unit
  fact staged-after-unit "$(present "$esp/EFI/Panelup/Panelup.efi")"
  run status panelupctl status "${stub[@]}"
  run status-json panelupctl status --json "${stub[@]}"
  run inventory-reset panelupctl inventory --json "${stub[@]}"
  run schedule panelupctl schedule --test-images --then power-cycle "${stub[@]}"
  end_boot reboot
  ;;
3)
  run status panelupctl status "${stub[@]}"
  run status-json panelupctl status --json "${stub[@]}"
  traced inventory-after panelupctl inventory --json "${stub[@]}"
  listing before-current
  run schedule-current panelupctl schedule --test-images --json "${stub[@]}"
  listing after-current
  simchip_driver "keep bus-fail-from 12000"
  run schedule panelupctl schedule --test-images --reflash "${stub[@]}"
  end_boot reboot
  ;;
4)
  run status panelupctl status --keep "${stub[@]}"
  listing after-status
  fact staged-after-status "$(present "$esp/EFI/Panelup/Panelup.efi")"
  run_unit
  # Removing the package with an update scheduled: its prerm cancels it.
  run schedule-before-remove panelupctl schedule 2 6 --test-images --reflash "${stub[@]}"
  run prerm sh /var/lib/dpkg/info/panelup.prerm remove
  listing after-prerm
  fact staged-after-prerm "$(present "$esp/EFI/Panelup/Panelup.efi")"
  end_boot poweroff
  ;;
*)
  end_boot poweroff
  ;;
esac
