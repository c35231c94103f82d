# shellcheck shell=bash
# The parts of the emulator's small Linux guests that the disk builders share (make-linux-disk.sh,
# make-fleet-disk.sh). Sourced; `die` is the caller's. Each function works on the initramfs tree
# ROOT the caller made.
#   guest_busybox ROOT              busybox-static as /bin/busybox (the init installs its applets)
#   guest_libraries ROOT BIN...     the shared libraries each binary's loader needs, at the paths
#                                   ldd names (this machine's: the guest runs this Debian's
#                                   binaries); LD_LIBRARY_PATH finds those of unpacked packages
#   guest_modules ROOT MODULES M... the kernel modules M.ko from MODULES into ROOT/lib/modules
#   guest_package ROOT DEB WORK     DEB's files where dpkg puts them, its prerm and postrm in
#                                   dpkg's folder
#   guest_pack ROOT OUT             ROOT as a gzipped newc cpio archive
#   guest_disk IMAGE MIB            a GPT disk of MIB MiB with one FAT32 ESP from sector 2048;
#                                   mtools reach the ESP as IMAGE@@1M

guest_busybox() {
  local busybox
  busybox=$(command -v busybox) || die "busybox is missing (scripts/install-deps.sh)"
  if ldd "$busybox" >/dev/null 2>&1; then
    die "$busybox is linked dynamically: the initramfs needs busybox-static (scripts/install-deps.sh)"
  fi
  mkdir -p "$1/bin"
  cp "$busybox" "$1/bin/busybox"
}

guest_libraries() {
  local root=$1 bin lib
  shift
  for bin in "$@"; do
    ! ldd "$bin" | grep -q 'not found' || die "$bin needs a library this machine lacks: $(ldd "$bin" | grep 'not found')"
    for lib in $(ldd "$bin" | grep -o '/[^ ]*'); do
      case $lib in "$root"/*) continue ;; esac # a library already in the tree
      [ -e "$root$lib" ] && continue
      mkdir -p "$root$(dirname "$lib")"
      cp -L "$lib" "$root$lib"
    done
  done
}

guest_modules() {
  local root=$1 modules=$2 m ko
  shift 2
  mkdir -p "$root/lib/modules"
  for m in "$@"; do
    ko=$(find "$modules" -name "$m.ko" | head -n 1)
    [ -n "$ko" ] || die "module $m.ko is not in $modules"
    cp "$ko" "$root/lib/modules/"
  done
}

guest_package() {
  local root=$1 deb=$2 work=$3 script
  dpkg-deb -x "$deb" "$root"
  [ -x "$root/usr/sbin/panelupctl" ] || die "$deb holds no /usr/sbin/panelupctl"
  guest_libraries "$root" "$root/usr/sbin/panelupctl"
  dpkg-deb -e "$deb" "$work/control"
  mkdir -p "$root/var/lib/dpkg/info"
  for script in prerm postrm; do
    [ ! -f "$work/control/$script" ] || cp "$work/control/$script" "$root/var/lib/dpkg/info/panelup.$script"
  done
}

guest_pack() {
  (cd "$1" && find . | LC_ALL=C sort | cpio -o -H newc --quiet | gzip -6 >"$2")
}

guest_disk() {
  local image=$1 size_mib=$2 esp_sectors
  esp_sectors=$(((size_mib - 2) * 2048))
  rm -f "$image"
  truncate -s "${size_mib}M" "$image"
  printf 'label: gpt\nstart=2048, size=%d, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B\n' \
    "$esp_sectors" | sfdisk -q "$image"
  # (mkfs.vfat warns that the block count is less than the file holds: on purpose, for the GPT's
  # backup at the end.)
  mkfs.vfat -F 32 -s 1 --offset 2048 -n ESP "$image" $((esp_sectors / 2)) >/dev/null 2>&1 ||
    die "mkfs.vfat failed on $image"
}
