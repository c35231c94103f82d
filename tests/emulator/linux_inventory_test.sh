#!/usr/bin/env bash
# panelupctl inventory in a real Linux, on the kernel's own i2c drivers: Debian's generic kernel
# on QEMU's q35 machine, whose ICH9 SMBus controller (i2c-i801) has nothing at 0x2B, and the
# kernel's i2c-stub standing in for the bridge at 0x2B with banked registers. The kernel starts
# directly (inventory needs no firmware services); the initramfs holds busybox, the build's
# panelupctl with its libraries, Panelup.efi and its catalogue where the package puts them. The
# kernel's smbus trace events record every transfer panelupctl makes, and the test holds them
# to the register sequence of /s: access taken, bank 0xA0 for the id, bank 0xD2 for the version,
# access given back, nothing else.
#   linux_inventory_test.sh BUILD_DIR OUT_DIR CACHE_DIR
set -euo pipefail

die() {
  echo "linux_inventory: $*" >&2
  exit 1
}
[ $# -eq 3 ] || die "usage: linux_inventory_test.sh BUILD_DIR OUT_DIR CACHE_DIR"
build=$(cd "$1" && pwd)
out=$2
cache=$3
repo=$(cd "$(dirname "$0")/../.." && pwd)
for f in "$build/panelupctl" "$build/uefi/Panelup.efi" "$build/uefi/panelup-catalogue.txt"; do
  [ -f "$f" ] || die "$f is missing: build first"
done
for tool in qemu-system-x86_64 busybox cpio gzip ldd apt-cache apt-get dpkg-deb; do
  command -v "$tool" >/dev/null 2>&1 || die "$tool is missing (scripts/install-deps.sh)"
done
# shellcheck source=scripts/linux-kernel.sh
. "$repo/scripts/linux-kernel.sh"
tree=$(kernel_tree linux-image-amd64 "$cache")
vmlinuz=$(find "$tree/boot" -name 'vmlinuz-*' | head -n 1)
modules=$(find "$tree/lib/modules" -mindepth 1 -maxdepth 1 -type d | head -n 1)
if [ -z "$vmlinuz" ] || [ -z "$modules" ]; then die "no kernel or modules in $tree"; fi

rm -rf "$out"
mkdir -p "$out"
root=$out/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,lib/modules,usr/sbin,usr/lib/panelup}
cp "$(command -v busybox)" "$root/bin/busybox"
cp "$build/panelupctl" "$root/usr/sbin/"
for lib in $(ldd "$build/panelupctl" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
cp "$build/uefi/Panelup.efi" "$build/uefi/panelup-catalogue.txt" "$root/usr/lib/panelup/"
for m in i2c-smbus i2c-i801 i2c-dev i2c-stub nvram; do
  ko=$(find "$modules" -name "$m.ko" | head -n 1)
  [ -n "$ko" ] || die "module $m.ko is not in $(basename "$tree")"
  cp "$ko" "$root/lib/modules/"
done

# The guest: each case prints its output between markers, with its exit status, and the smbus
# trace lines of its transfers.
cat >"$root/init" <<'GUEST'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/usr/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mount -t tracefs tracefs /sys/kernel/tracing
for m in i2c-smbus i2c-i801 i2c-dev nvram; do insmod /lib/modules/$m.ko || echo "init: insmod $m failed"; done
insmod /lib/modules/i2c-stub.ko chip_addr=0x2b bank_reg=0xff bank_mask=0x70 bank_start=0x00 bank_end=0xfe ||
  echo "init: insmod i2c-stub failed"
T=/sys/kernel/tracing
for e in smbus_write smbus_read smbus_result; do echo 1 >$T/events/smbus/$e/enable; done
stub=""
for d in /sys/bus/i2c/devices/i2c-*; do
  [ "$(cat "$d/name")" = "SMBus stub driver" ] && stub=${d##*-}
done
echo "::stub:: $stub"
# The bridge's registers as the simulated chip holds them at power-on: 2.6.12, id 0x1605.
reg() { i2cset -y "$stub" 0x2b 0xff "$1" && i2cset -y "$stub" 0x2b "$2" "$3"; }
reg 0xa0 0x00 0x16
reg 0xa0 0x01 0x05
reg 0xd2 0x0c 2
reg 0xd2 0x0d 6
reg 0xd2 0x0e 12
i2cset -y "$stub" 0x2b 0xff 0x80
# CMOS through the RTC's ports, as Panelup.efi writes it: the version it published and its
# status. The PC's nvram driver reads nothing while the checksum of 0x10-0x2D (in 0x2E, 0x2F)
# is wrong, as the emulated machine's is: set it first.
cmos_get() {
  printf "\\$(printf %o "$1")" | dd of=/dev/port bs=1 seek=112 count=1 2>/dev/null
  dd if=/dev/port bs=1 skip=113 count=1 2>/dev/null | od -An -tu1
}
cmos_set() {
  printf "\\$(printf %o "$1")" | dd of=/dev/port bs=1 seek=112 count=1 2>/dev/null
  printf "\\$(printf %o "$2")" | dd of=/dev/port bs=1 seek=113 count=1 2>/dev/null
}
sum=0
i=16
while [ $i -le 45 ]; do
  sum=$((sum + $(cmos_get $i)))
  i=$((i + 1))
done
cmos_set 46 $((sum >> 8 & 255))
cmos_set 47 $((sum & 255))
cmos_set 112 2
cmos_set 113 6
cmos_set 114 12
cmos_set 121 255
run() {
  name=$1
  shift
  echo >$T/trace
  echo "::case:: $name"
  panelupctl inventory "$@"
  echo "::exit:: $name $?"
  grep -o 'smbus_[a-z]*: i2c-[0-9]* .*' $T/trace | sed "s/^/::bus:: $name /"
}
run chipset --json
run stub --adapter "SMBus stub driver" --json
reg 0xd2 0x0e 19
run current --adapter "$stub"
reg 0xd2 0x0d 99
run unknown --adapter "SMBus stub" --json
reg 0xd2 0x0d 6
reg 0xa0 0x01 0x06
run other-chip --adapter "SMBus stub driver" --json
echo "::done::"
poweroff -f
GUEST
chmod 755 "$root/init"
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet | gzip -1 >"$out/initrd.img")
rm -rf "$root"

log=$out/console.log
timeout 300 qemu-system-x86_64 -M q35 -m 512 -smp 1 -accel tcg -display none -no-reboot \
  -kernel "$vmlinuz" -initrd "$out/initrd.img" -serial "file:$log" -monitor none \
  -append "console=ttyS0 panic=-1 quiet" || die "QEMU failed or timed out (see $log)"
tr -d '\r' <"$log" >"$out/console.txt"
grep -q '^::done::' "$out/console.txt" || die "the guest did not finish (see $log)"

# shellcheck source=checks.sh
. "$repo/tests/emulator/checks.sh"
output() { sed -n "/^::case:: $1\$/,/^::exit:: $1 /p" "$out/console.txt"; }
status() { sed -n "s/^::exit:: $1 //p" "$out/console.txt"; }
transfers() { sed -n "s/^::bus:: $1 //p" "$out/console.txt" | smbus_transfers; }
has() { output "$1" | grep -qF -- "$2"; }

check "the chipset's SMBus: no bridge found, exit 6" [ "$(status chipset)" = 6 ]
check "the chipset's SMBus: the verdict no-bridge" has chipset '"result":"no-bridge"'
check "the chipset's SMBus: one transfer, refused, nothing after it" \
  [ "$(transfers chipset)" = "Wff=80 refused " ]
ends() { [ "$(status "$1")" = "$2" ] && has "$1" "$3"; }
check "the stub: exit 0, update available from 02.06.12 to 02.06.19" \
  ends stub 0 '"running":{"cid":2,"pid":6,"txx":12,"version":"02.06.12"},"catalogue":{"version":"02.06.19"'
check "the stub: the verdict update-available" has stub '"result":"update-available"'
check "the stub: CMOS 0x70-0x72 and 0x79 read through /dev/nvram" \
  has stub '"cmos":{"version":"02.06.12","status":"0xFF"}'
check "the stub: exactly the register sequence of /s" [ "$(transfers stub)" = "$inventory_sequence" ]
check "the panel runs the target: current (adapter by number, in words)" \
  ends current 0 "verdict:    current"
check "a version not in the catalogue" ends unknown 0 '"result":"not-in-catalogue"'
check "chip id 0x1606: no bridge found, exit 6" ends other-chip 6 '"chip_id":"0x1606"'
check "chip id 0x1606: access given back, no version read" \
  [ "$(transfers other-chip)" = "Wff=80 Wee=01 Wff=a0 R0 R1 Wff=80 Wee=00 " ]
echo "inventory in the guest (/f's own bus sequence read back by the kernel's trace):"
output stub | grep -v '^::'
echo "transfers of 'panelupctl inventory' on the stub: $(transfers stub)"
[ "$failures" -eq 0 ] || die "$failures check(s) failed (console: $log)"
echo "linux_inventory: all checks passed"
