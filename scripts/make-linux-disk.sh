#!/usr/bin/env bash
# Builds a GPT disk image whose one partition, an EFI system partition, boots a small Linux:
# Debian's generic kernel and an initramfs with busybox, bash, efibootmgr (the scenario's own
# look at the boot entries), and the Debian package's files where the package puts them
# (unpacked from DEB, as dpkg would, its prerm and postrm in dpkg's folder): panelupctl with the
# shared libraries it needs, Panelup.efi and its catalogue, panelup-result.service), the i2c
# modules and tests/emulator/bridge-stub.sh (at /lib/bridge-stub.sh) for the bridge's stand-in.
# SimChip.efi lies on the ESP for a driver option; the first boot's startup.nsh loads it too, so
# Linux finds the chip's registers at every boot. Its /init mounts the ESP at /boot/efi and runs
# \panelup-test\scenario.sh from it with bash when there is one, else a shell on the console;
# then it powers off.
#
#   make-linux-disk.sh [--cache DIR] [--scenario FILE] EFI_DIR DEB OUT.img
#     --cache DIR      where the kernel package is unpacked and kept for later runs
#                      (default: linux-cache beside EFI_DIR)
#     --scenario FILE  the bash script for /init to run at every boot (on the ESP)
#   EFI_DIR holds SimChip.efi (the build's build/uefi); DEB is the package (make deb).
#
# The kernel is the linux-image-6.1.0-NN-amd64 that linux-image-amd64 depends on (the cloud
# flavour has no i2c drivers), fetched with apt-get download from this machine's apt sources and
# unpacked, never installed.
# The first boot has no boot option for it: the ESP's startup.nsh starts it from the UEFI Shell.
set -euo pipefail

die() {
  echo "make-linux-disk: $*" >&2
  exit 1
}

cache=""
scenario=""
while [ $# -gt 0 ]; do
  case "$1" in
  --cache) cache=${2:?--cache needs a folder}; shift 2 ;;
  --scenario) scenario=${2:?--scenario needs a file}; shift 2 ;;
  -*) die "unknown option '$1' (see the head of $0)" ;;
  *) break ;;
  esac
done
[ $# -eq 3 ] || die "usage: make-linux-disk.sh [--cache DIR] [--scenario FILE] EFI_DIR DEB OUT.img"
efi_dir=$(cd "$1" 2>/dev/null && pwd) || die "no folder $1"
deb=$2
image=$3
[ -n "$cache" ] || cache="$(dirname "$efi_dir")/linux-cache"
[ -f "$efi_dir/SimChip.efi" ] || die "$efi_dir/SimChip.efi is missing: build first"
[ -f "$deb" ] || die "no package $deb: make deb first"
[ -z "$scenario" ] || [ -f "$scenario" ] || die "no scenario file $scenario"
for tool in apt-cache apt-get dpkg-deb busybox bash efibootmgr cpio gzip sfdisk mkfs.vfat \
  mcopy mmd ldd; do
  command -v "$tool" >/dev/null 2>&1 || die "$tool is missing (scripts/install-deps.sh)"
done

# --- The kernel, from its package, unpacked once into the cache ---
# shellcheck source=scripts/linux-kernel.sh
. "$(dirname "$0")/linux-kernel.sh"
# shellcheck source=scripts/linux-guest.sh
. "$(dirname "$0")/linux-guest.sh"
kernel_tree=$(kernel_tree linux-image-amd64 "$cache")
package=$(basename "$kernel_tree")
vmlinuz=$(find "$kernel_tree/boot" -name 'vmlinuz-*' | head -n 1)
[ -n "$vmlinuz" ] || die "no vmlinuz in $kernel_tree"
modules_dir=$(find "$kernel_tree/lib/modules" -mindepth 1 -maxdepth 1 -type d | head -n 1)

# --- The initramfs ---
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,sbin,dev,proc,sys,tmp,run,boot/efi,usr/bin,lib/modules}
guest_busybox "$root"
ln -s /bin/busybox "$root/usr/bin/env" # for the scripts' #!/usr/bin/env bash
for bin in bash efibootmgr; do
  cp "$(command -v "$bin")" "$root/bin/"
  guest_libraries "$root" "$(command -v "$bin")"
done
# The module order loads each one after those its depends= string names.
order="efivarfs virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_blk"
order="$order fat vfat nls_cp437 nls_ascii i2c-smbus i2c-i801 i2c-dev nvram i2c-stub"
# shellcheck disable=SC2086 # the list, word by word
guest_modules "$root" "$modules_dir" $order
cp "$(dirname "$0")/../tests/emulator/bridge-stub.sh" "$root/lib/bridge-stub.sh"
# The package where dpkg puts it, its prerm and postrm for the scenario to run as dpkg would.
guest_package "$root" "$deb" "$work"

cat >"$root/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/usr/sbin:/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
ln -s /proc/self/fd /dev/fd # as udev makes it: bash's <(...) needs it
# i2c-stub waits for the scenario, which loads it with the chip's registers (bridge-stub.sh).
for m in $order; do
  [ \$m = i2c-stub ] || insmod /lib/modules/\$m.ko || echo "init: insmod \$m failed"
done
mount -t efivarfs efivarfs /sys/firmware/efi/efivars
for i in 1 2 3 4 5 6 7 8 9 10; do [ -b /dev/vda1 ] && break; sleep 0.2; done
mount -t vfat /dev/vda1 /boot/efi || echo "init: the ESP /dev/vda1 did not mount"
# Run from a copy, so the scenario can unmount the ESP.
if cp /boot/efi/panelup-test/scenario.sh /tmp/scenario.sh 2>/dev/null; then
  bash /tmp/scenario.sh
else
  echo "init: no scenario; 'poweroff -f' ends the machine"
  setsid cttyhack sh
fi
sync
umount /boot/efi 2>/dev/null
poweroff -f
EOF
chmod 755 "$root/init"
guest_pack "$root" "$work/initrd.img"

# --- The disk: GPT, one ESP from sector 2048, FAT ---
guest_disk "$image" 64
esp="$image@@1M"
printf 'fs0:\r\nload SimChip.efi\r\n\\vmlinuz initrd=\\initrd.img console=ttyS0 quiet panic=1\r\n' \
  >"$work/startup.nsh"
mcopy -i "$esp" "$vmlinuz" ::/vmlinuz
mcopy -i "$esp" "$work/initrd.img" ::/initrd.img
mcopy -i "$esp" "$efi_dir/SimChip.efi" "$work/startup.nsh" ::/
if [ -n "$scenario" ]; then
  mmd -i "$esp" ::/panelup-test
  mcopy -i "$esp" "$scenario" ::/panelup-test/scenario.sh
fi
echo "make-linux-disk: $image ($package, initrd $(($(stat -c %s "$work/initrd.img") / 1024)) KiB)" >&2
