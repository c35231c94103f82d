#!/usr/bin/env bash
# Builds the disks of an emulated fleet: one GPT disk per machine whose ESP boots a small Linux
# that Ansible can manage over SSH. Debian's generic kernel (its i2c-stub stands in for the
# bridge); an initramfs with busybox, efibootmgr, Python 3 (this machine's python3.11 and its
# standard library, without tests, IDLE, Tk and the like), OpenSSH's sshd and sftp-server (from
# their packages, fetched with apt-get download and unpacked, never installed here), and the
# Debian package's files where dpkg puts them. SimChip.efi lies on the ESP for a driver option.
#
#   make-fleet-disk.sh [--cache DIR] --authorized-keys FILE EFI_DIR DEB OUT.img OPTIONS [OUT.img OPTIONS]...
#     --cache DIR             where packages are unpacked and kept (default: linux-cache beside
#                             EFI_DIR)
#     --authorized-keys FILE  root's authorized_keys in every guest
#     OPTIONS                 the SimChip driver option's words for that machine ("keep",
#                             "keep version 2.6.19", "keep bus-fail-from 12000")
#
# At each boot the guest's /init mounts the ESP at /boot/efi and binds \fleet\state on it to
# /var/lib/panelup, so that panelupctl's state outlives a reboot as on a disk. On a new variable
# store (no SimChip driver option yet) it plants a Linux boot option first in BootOrder and the
# SimChip driver option with the machine's words, and powers off: the firmware loads the chip at
# the next power-on (the rig's first run has no network card, whose PXE would try first).
# Otherwise it loads i2c-stub with the registers SimChip.efi published
# (tests/emulator/bridge-stub.sh), runs what the boot unit would, brings up eth0 (QEMU's user
# network, 10.0.2.15) and starts sshd on port 22. /sbin/reboot, shutdown and poweroff end the
# session that asked first (ansible.builtin.reboot waits for that), then the machine; busybox sh
# runs its own applet for a bare "reboot", so callers name the path. The rig's QEMU gives the
# guest a virtio-rng-pci (sshd waits for entropy otherwise) and, from the second power-on, a
# virtio-net-pci with user networking and no option ROM.
set -euo pipefail

die() {
  echo "make-fleet-disk: $*" >&2
  exit 1
}

here=$(cd "$(dirname "$0")" && pwd)
cache=""
keys=""
while [ $# -gt 0 ]; do
  case "$1" in
  --cache) cache=${2:?--cache needs a folder}; shift 2 ;;
  --authorized-keys) keys=${2:?--authorized-keys needs a file}; shift 2 ;;
  -*) die "unknown option '$1' (see the head of $0)" ;;
  *) break ;;
  esac
done
if [ $# -lt 4 ] || [ $(($# % 2)) -ne 0 ] || [ -z "$keys" ]; then
  die "usage: make-fleet-disk.sh [--cache DIR] --authorized-keys FILE EFI_DIR DEB OUT.img OPTIONS..."
fi
efi_dir=$(cd "$1" 2>/dev/null && pwd) || die "no folder $1"
deb=$2
shift 2
[ -n "$cache" ] || cache="$(dirname "$efi_dir")/linux-cache"
[ -f "$efi_dir/SimChip.efi" ] || die "$efi_dir/SimChip.efi is missing: build first"
[ -f "$deb" ] || die "no package $deb: make deb first"
[ -f "$keys" ] || die "no authorized_keys file $keys"
python=/usr/bin/python3.11
[ -x "$python" ] || die "$python is missing (scripts/install-deps.sh: python3)"
for tool in apt-cache apt-get dpkg-deb busybox efibootmgr ssh-keygen cpio gzip sfdisk mkfs.vfat \
  mcopy mmd ldd; do
  command -v "$tool" >/dev/null 2>&1 || die "$tool is missing (scripts/install-deps.sh)"
done

# shellcheck source=scripts/linux-kernel.sh
. "$here/linux-kernel.sh"
# shellcheck source=scripts/linux-guest.sh
. "$here/linux-guest.sh"
kernel=$(kernel_tree linux-image-amd64 "$cache")
vmlinuz=$(find "$kernel/boot" -name 'vmlinuz-*' | head -n 1)
modules_dir=$(find "$kernel/lib/modules" -mindepth 1 -maxdepth 1 -type d | head -n 1)
if [ -z "$vmlinuz" ] || [ -z "$modules_dir" ]; then die "no kernel or modules in $kernel"; fi
sshd_tree=$(package_tree openssh-server "$cache")
sftp_tree=$(package_tree openssh-sftp-server "$cache")
wrap_tree=$(package_tree libwrap0 "$cache") # sshd's one library this machine may lack

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
lib=/usr/lib/x86_64-linux-gnu
mkdir -p "$root"/{bin,sbin,dev,proc,sys,tmp,run,boot/efi,usr/bin,usr/sbin,etc/ssh,root/.ssh} \
  "$root"/{var/lib/panelup,var/log,lib/fleet,usr/lib/openssh,"$lib"}
guest_busybox "$root"
cp "$(command -v efibootmgr)" "$root/bin/"
guest_libraries "$root" "$(command -v efibootmgr)"

# Modules in an order that loads each after those its depends= string names.
# virtio-rng feeds the kernel's entropy at once: sshd waits for it otherwise.
order="efivarfs virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio-rng"
order="$order virtio_blk failover net_failover virtio_net fat vfat nls_cp437 nls_ascii"
order="$order i2c-smbus i2c-dev nvram"
# shellcheck disable=SC2086 # the list, word by word
guest_modules "$root" "$modules_dir" $order i2c-stub

# Python: the interpreter, its standard library without what a managed host never runs, and
# the compiled modules once (no optimised copies).
cp "$python" "$root/usr/bin/python3.11"
ln -s python3.11 "$root/usr/bin/python3"
tar -C /usr/lib -cf - \
  --exclude='python3.11/test' --exclude='python3.11/idlelib' --exclude='python3.11/tkinter' \
  --exclude='python3.11/turtledemo' --exclude='python3.11/lib2to3' \
  --exclude='python3.11/ensurepip' --exclude='python3.11/pydoc_data' \
  --exclude='python3.11/config-3.11-*' --exclude='python3.11/*/test' --exclude='python3.11/*/tests' \
  --exclude='python3.11/*/idle_test' --exclude='python3.11/sitecustomize.py' \
  --exclude='python3.11/site-packages' --exclude='python3.11/dist-packages' \
  --exclude='*.opt-1.pyc' --exclude='*.opt-2.pyc' \
  --exclude='_test*.so' --exclude='_ctypes_test*.so' --exclude='_xx*.so' --exclude='xxlimited*.so' \
  --exclude='_tkinter*.so' --exclude='_curses*.so' --exclude='readline*.so' \
  --exclude='_sqlite3*.so' --exclude='_dbm*.so' --exclude='_gdbm*.so' --exclude='ossaudiodev*.so' \
  --exclude='nis*.so' python3.11 | tar -C "$root/usr/lib" -xf -
guest_libraries "$root" "$python" "$root"/usr/lib/python3.11/lib-dynload/*.so
cp /etc/os-release "$root/etc/os-release" # the distribution Ansible's facts name

# OpenSSH: sshd without PAM, root by key only; its host key made here once per build.
cp "$sshd_tree/usr/sbin/sshd" "$root/usr/sbin/"
cp "$sftp_tree/usr/lib/openssh/sftp-server" "$root/usr/lib/openssh/"
cp -P "$wrap_tree/$lib"/libwrap.so.* "$root/$lib/"
LD_LIBRARY_PATH="$root/$lib" guest_libraries "$root" "$root/usr/sbin/sshd" "$root/usr/lib/openssh/sftp-server"
ssh-keygen -q -t ed25519 -N '' -C fleet-host -f "$root/etc/ssh/ssh_host_ed25519_key"
cat >"$root/etc/ssh/sshd_config" <<'EOF'
HostKey /etc/ssh/ssh_host_ed25519_key
PermitRootLogin prohibit-password
PubkeyAuthentication yes
AuthorizedKeysFile /root/.ssh/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
UseDNS no
PidFile /run/sshd.pid
Subsystem sftp /usr/lib/openssh/sftp-server
EOF
cp "$keys" "$root/root/.ssh/authorized_keys"
chmod 700 "$root/root" "$root/root/.ssh"
chmod 600 "$root/root/.ssh/authorized_keys"
printf 'root:x:0:0:root:/root:/bin/sh\nsshd:x:100:65534::/run/sshd:/usr/sbin/nologin\n' >"$root/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$root/etc/group"

guest_package "$root" "$deb" "$work"
cp "$here/../tests/emulator/bridge-stub.sh" "$root/lib/fleet/"

# Ending the machine: the caller's session gets its answer and closes before the machine goes.
# The init does it: a process the session started dies with it now and then, even apart in
# its own session.
cat >"$root/sbin/reboot" <<'EOF'
#!/bin/sh
how=reboot
case "${0##*/}" in
poweroff | halt) how=poweroff ;;
shutdown) case " $* " in *" -h "* | *" -P "* | *" --poweroff "* | *" -H "*) how=poweroff ;; esac ;;
esac
echo "$how" >/run/fleet-power.new && mv /run/fleet-power.new /run/fleet-power
echo "fleet: $how in a second"
EOF
chmod 755 "$root/sbin/reboot"
ln -s reboot "$root/sbin/shutdown"
ln -s reboot "$root/sbin/poweroff"

cat >"$root/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
order="$order"
EOF
cat >>"$root/init" <<'EOF'
say() { echo "fleet-init: $*"; }
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
mkdir -p /dev/pts /run/sshd
mount -t devpts devpts /dev/pts
ln -s /proc/self/fd /dev/fd
for m in $order; do insmod /lib/modules/$m.ko || say "insmod $m failed"; done
mount -t efivarfs efivarfs /sys/firmware/efi/efivars
for i in 1 2 3 4 5 6 7 8 9 10; do [ -b /dev/vda1 ] && break; sleep 0.2; done
mount -t vfat /dev/vda1 /boot/efi || say "the ESP /dev/vda1 did not mount"
fleet=/boot/efi/fleet
hostname "$(cat $fleet/name 2>/dev/null || echo fleet)"
mkdir -p $fleet/state
mount --bind $fleet/state /var/lib/panelup

if ! efibootmgr -r 2>/dev/null | grep -q '^Driver[0-9A-F]\{4\}\*\{0,1\} SimChip'; then
  # Linux first in BootOrder, so that the machine comes back here after Panelup.efi.
  efibootmgr -q -c -d /dev/vda -p 1 -l '\vmlinuz' -L Linux -u 'initrd=\initrd.img console=ttyS0 quiet panic=1'
  words=$(cat $fleet/simchip.txt 2>/dev/null)
  efibootmgr -q -r -c -d /dev/vda -p 1 -l '\SimChip.efi' -L SimChip ${words:+-u "$words"}
  say "boot options planted (SimChip: $words); off, for the firmware to load the chip at the next power-on"
  /sbin/poweroff # busybox sh would take its own applet for a bare name
fi

end_machine() { # what /sbin/reboot asked for
  how=$(cat /run/fleet-power)
  say "$how"
  sleep 1
  sync
  umount /var/lib/panelup
  umount /boot/efi || mount -o remount,ro /boot/efi
  /bin/busybox "$how" -f
}
[ ! -e /run/fleet-power ] || end_machine

. /lib/fleet/bridge-stub.sh
if load_bridge_stub /lib/modules; then
  say "bridge stub on i2c-$stub_bus: id, CID, PID, Txx $(dd if="$registers" bs=9 count=1 2>/dev/null | od -An -v -tx1 -j4 | xargs)"
else
  say "SimChip.efi published no registers: no bridge"
fi

# The boot unit as systemd would start it: when one of its conditions holds, ExecStart split at
# blanks, its output what the journal would show.
unit=/lib/systemd/system/panelup-result.service
met=no
for path in $(sed -n 's/^ConditionPathExists=|//p' $unit); do [ ! -e "$path" ] || met=yes; done
if [ $met = yes ]; then
  set -- $(sed -n 's/^ExecStart=//p' $unit)
  "$@" >/run/panelup-result.log 2>&1
  say "panelup-result.service: exit $? ($(tr '\n' ' ' </run/panelup-result.log | cut -c1-300))"
fi

ip link set lo up
ip link set eth0 up
ip addr add 10.0.2.15/24 dev eth0
ip route add default via 10.0.2.2
/usr/sbin/sshd -E /run/sshd.log || say "sshd did not start"
say "ready: $(hostname), sshd on port 22, panelupctl $(panelupctl --version 2>&1 | head -n 1)"
while [ ! -e /run/fleet-power ]; do sleep 1; done
end_machine
EOF
chmod 755 "$root/init"
guest_pack "$root" "$work/initrd.img"
initrd_kib=$(($(stat -c %s "$work/initrd.img") / 1024))

printf 'fs0:\r\n\\vmlinuz initrd=\\initrd.img console=ttyS0 quiet panic=1\r\n' >"$work/startup.nsh"
while [ $# -gt 0 ]; do
  image=$1 words=$2
  shift 2
  guest_disk "$image" 128
  esp="$image@@1M"
  mcopy -i "$esp" "$vmlinuz" ::/vmlinuz
  mcopy -i "$esp" "$work/initrd.img" ::/initrd.img
  mcopy -i "$esp" "$efi_dir/SimChip.efi" "$work/startup.nsh" ::/
  mmd -i "$esp" ::/fleet
  printf '%s' "$words" >"$work/simchip.txt"
  basename "$image" .img >"$work/name"
  mcopy -i "$esp" "$work/simchip.txt" "$work/name" ::/fleet/
  echo "make-fleet-disk: $image (SimChip: ${words:-no words}; $(basename "$kernel"), initrd $initrd_kib KiB)" >&2
done
