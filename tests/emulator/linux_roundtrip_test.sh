#!/usr/bin/env bash
# panelupctl from a running Linux, in OVMF under QEMU: one machine, three boots in one QEMU run
# (a guest reboot restarts the firmware). Linux schedules Panelup.efi /f 2 6 for the next boot,
# the firmware runs it (SimChip.efi loaded from a driver option), Linux comes back and reads the
# result; the second round's driver option makes the bus fail during the update. What each boot
# did is read afterwards from the disk's ESP (linux_roundtrip_guest.sh writes it there) and from
# the EC port.
#
#   linux_roundtrip_test.sh EFI_DIR OUT_DIR [CACHE_DIR]
#   CACHE_DIR keeps the unpacked kernel package between runs (default: OUT_DIR/../linux-cache).
set -euo pipefail
efi_dir=${1:?usage: linux_roundtrip_test.sh EFI_DIR OUT_DIR [CACHE_DIR]}
out=${2:?usage: linux_roundtrip_test.sh EFI_DIR OUT_DIR [CACHE_DIR]}
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
cache=${3:-$(dirname "$out")/linux-cache}

# shellcheck source=checks.sh
. "$here/checks.sh"

started=$(date +%s)
disk=$out/disk.img
"$repo/scripts/make-linux-disk.sh" --cache "$cache" --scenario "$here/linux_roundtrip_guest.sh" \
  "$efi_dir" "$disk"
built=$(date +%s)

# After a boot option that returns EFI_SUCCESS (Panelup.efi's exit 0), OVMF's boot manager opens
# its Boot Manager Menu (UiApp) and waits for a key, as EDK II firmware does; an operator picks
# Continue there, and the boot manager goes on with BootOrder. The rig does the same through the
# monitor's keyboard, and logs each time it did in menu.log.
monitor=$(mktemp -u /tmp/panelup-linux.XXXXXX).sock
python3 - "$out/console.log" "$monitor" "$out/menu.log" <<'PY' &
import re, socket, sys, time
log, monitor, record = sys.argv[1:4]
seen = 0
def send(keys):
    s = socket.socket(socket.AF_UNIX)
    s.connect(monitor)
    for key in keys:
        s.sendall(("sendkey %s\n" % key).encode())
        time.sleep(0.3)
    s.close()
while True:
    time.sleep(0.5)
    try:
        text = open(log, "rb").read().decode("latin-1")
    except OSError:
        continue
    starts = [m.end() for m in re.finditer(r'starting Boot[0-9A-F]{4} "UiApp"', text)]
    if len(starts) > seen and "Continue" in text[starts[seen]:]:
        time.sleep(1)  # the menu is drawn before it reads keys
        send(["down"] * 4 + ["ret"])  # Select Language, three menus, then Continue
        seen += 1
        open(record, "a").write("menu %d: Continue chosen\n" % seen)
PY
watcher=$!
cp /usr/share/OVMF/OVMF_VARS_4M.fd "$out/vars.fd"
timeout --kill-after=5 420 qemu-system-x86_64 -machine q35 -accel tcg \
  -m 512 -nic none -display none -monitor "unix:$monitor,server=on,wait=off" \
  -drive "if=pflash,format=raw,unit=0,readonly=on,file=/usr/share/OVMF/OVMF_CODE_4M.fd" \
  -drive "if=pflash,format=raw,unit=1,file=$out/vars.fd" \
  -drive "if=virtio,format=raw,file=$disk" \
  -device isa-debugcon,iobase=0x66,chardev=ec -chardev "file,id=ec,path=$out/ec.bin" \
  -serial "file:$out/console.log" || echo "the machine did not power off by itself; see $out/console.log"
finished=$(date +%s)
kill "$watcher" 2>/dev/null || true
rm -f "$monitor"
touch "$out/ec.bin"
mcopy -s -n -i "$disk@@1M" ::/panelup-test "$out/" 2>/dev/null || true
ec=$(od -An -v -tx1 "$out/ec.bin" | tr 'a-f' 'A-F' | xargs)

b() { echo "$out/panelup-test/boot$1"; }
exit_is() { grep -qx "$2 exit=$3" "$(b "$1")/results.txt" 2>/dev/null; }
fact_is() { grep -qx "$2=$3" "$(b "$1")/results.txt" 2>/dev/null; }
says() { grep -Fq -- "$3" "$(b "$1")/$2.txt" 2>/dev/null; }
says_re() { grep -Eq -- "$3" "$(b "$1")/$2.txt" 2>/dev/null; }
says_line_re() { grep -Eqx -- "$3" "$(b "$1")/$2.txt" 2>/dev/null; }
lists() { grep -q -- "$3" "$(b "$1")/$2.boot" 2>/dev/null; }
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

for n in 1 2 3; do check "boot $n of Linux ran the scenario" test -f "$(b $n)/results.txt"; done

# Boot 1: nothing run yet, then a record planted by hand stands for an old one.
check "status without a record: exit 3, says so" \
  eval 'exit_is 1 status-none 3 && says 1 status-none "No result"'
check "status --json of a record without a bus: exit 24, nulls for what the run never read" \
  eval 'exit_is 1 status-planted 24 && says_line_re 1 status-planted "\{\"cid\":2,\"pid\":6,\"exit\":24,\"result\":\"no-smbus-controller\",\"from\":null,\"to\":null,\"time\":null,\"then\":null,\"attempts\":null,\"build\":null,\"new_firmware_running\":false\}"'
check "schedule 2 256: exit 2, names the PID, entries unchanged" \
  eval 'exit_is 1 bad-pid 2 && says 1 bad-pid "PID must be a decimal number from 0 to 255" && same_entries 1 before-bad bad-pid'
check "schedule x 6: exit 2, names the CID, entries unchanged" \
  eval 'exit_is 1 bad-cid 2 && says 1 bad-cid "CID must be a decimal number from 0 to 255" && same_entries 1 before-bad bad-cid'
check "schedule --esp /nonexistent: exit 1, entries unchanged" \
  eval 'exit_is 1 bad-esp 1 && says 1 bad-esp "no EFI system partition at /nonexistent" && same_entries 1 before-bad bad-esp'
check "schedule with the ESP unmounted: exit 1, entries unchanged" \
  eval 'exit_is 1 no-esp 1 && says 1 no-esp "no EFI system partition is mounted" && same_entries 1 before-bad no-esp'
check "schedule removes the old record" fact_is 1 record-after-schedule absent
check "a second schedule replaces the first: one entry, BootNext on it, not in BootOrder" \
  eval 'exit_is 1 schedule-1-3 0 && exit_is 1 schedule-replace 0 && one_entry_next 1 replaced'
check "cancel removes the entry and BootNext" eval 'exit_is 1 cancel 0 && none_left 1 cancelled'
check "schedule 2 6: one entry for \\EFI\\Panelup\\Panelup.efi, BootNext on it" \
  eval 'exit_is 1 schedule 0 && one_entry_next 1 scheduled && lists 1 scheduled "Panelup update.*EFI.Panelup.Panelup.efi"'

# Boot 2: the update ran at the reboot.
check "round 1 status: exit 0, 02.06.12 to 02.06.19, power cycle asked for" \
  eval 'exit_is 2 status 0 && says_re 2 status "before: +02\.06\.12" && says_re 2 status "written: +02\.06\.19" && says 2 status "after the next power-off and power-on"'
check "round 1 status removed the entry and the staged image" \
  eval 'none_left 2 after-status && fact_is 2 staged-after-status absent'
check "round 2 scheduled (removing round 1's record)" exit_is 2 schedule 0

# Boot 3: the bus failed from transaction 12000 on, during the firmware write.
check "round 2 status --json: exit 248, compare-failed, the versions" \
  eval 'exit_is 3 status 248 && says_line_re 3 status "\{\"cid\":2,\"pid\":6,\"exit\":248,\"result\":\"compare-failed\",\"from\":\"02\.06\.12\",\"to\":\"02\.06\.19\",\"time\":(null|\"[0-9T:-]{19}\"),\"then\":(null|\"[a-z-]+\"),\"attempts\":(null|[0-9]),\"build\":(null|\"[^\"]+\"),\"new_firmware_running\":false\}"'
check "round 2 status --keep removed the entry, kept the staged image" \
  eval 'none_left 3 after-status && fact_is 3 staged-after-status present'
check "EC port: round 1 passed (8B 8A), round 2 failed (8B 8C)" test "$ec" = "8B 8A 8B 8C"

for n in 2 3; do
  echo "---- boot $n: panelupctl status"
  cat "$(b $n)/status.txt" 2>/dev/null || echo "(none)"
done
echo "disk built in $((built - started)) s, three boots in $((finished - built)) s"
echo "$failures failed"
[ "$failures" -eq 0 ]
