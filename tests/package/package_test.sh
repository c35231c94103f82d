#!/usr/bin/env bash
# The Debian package as an admin gets it: lintian finds no error or warning (in panelup-ansible,
# built beside it, neither, and Debian's Ansible finds its collection), and in a clean
# Debian 12 root, dpkg -i and apt-get -f install bring it with its dependencies; panelupctl
# runs and finds the packaged image, man finds its page, the unit is enabled the Debian way and
# starts the packaged panelupctl, the completion completes; apt-get purge (and autoremove of the
# dependencies it brought) leaves the root as it was.
#   package_test.sh DEB WORK CACHE    (as root: debootstrap and chroot; else skipped, exit 77)
# CACHE keeps the debootstrapped root as a tarball for later runs.
set -uo pipefail

deb=$(realpath "$1")
work=$2
cache=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/debian-root.sh
source "$here/../../scripts/debian-root.sh"
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the package tier needs root (debootstrap, chroot)"
  exit 77
fi
[ -f "$deb" ] || { echo "FAIL: no package $deb (make deb)"; exit 1; }

failures=0
passes=0
check() { # description command...
  local what=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
    echo "ok: $what"
  else
    failures=$((failures + 1))
    echo "FAIL: $what"
  fi
}

echo "== lintian $(lintian --version | cut -d' ' -f2) on ${deb##*/}"
lintian --fail-on error,warning --info "$deb" >"$work.lintian.txt" 2>&1
lintian_status=$?
grep -v 'running with root privileges' "$work.lintian.txt"
check "lintian: no error or warning" test "$lintian_status" -eq 0

# The collection's package, from the same source: lintian, and Debian's Ansible finds the module,
# the role's playbook and the callback where the package puts them.
ansible_deb=${deb%/*}/panelup-ansible_$(dpkg-deb -f "$deb" Version)_all.deb
echo "== lintian on ${ansible_deb##*/}"
lintian --fail-on error,warning --info "$ansible_deb" >"$work.lintian-ansible.txt" 2>&1
lintian_status=$?
grep -v 'running with root privileges' "$work.lintian-ansible.txt"
check "lintian: no error or warning on panelup-ansible" test "$lintian_status" -eq 0
collection_found() {
  local unpacked=$work.ansible-deb
  rm -rf "$unpacked" && dpkg-deb -x "$ansible_deb" "$unpacked" || return 1
  local found=$unpacked/usr/share/ansible/collections
  ANSIBLE_COLLECTIONS_PATH=$found ANSIBLE_HOME=$unpacked/home /usr/bin/ansible-doc -l panelup.fleet |
    grep -q '^panelup\.fleet\.panel ' &&
    ANSIBLE_COLLECTIONS_PATH=$found ANSIBLE_HOME=$unpacked/home /usr/bin/ansible-doc -t callback -l \
      panelup.fleet | grep -q '^panelup\.fleet\.fleet_report ' &&
    [ -f "$found/ansible_collections/panelup/fleet/playbooks/rollout.yml" ] &&
    grep -q "\"version\": \"$(dpkg-deb -f "$deb" Version)\"" \
      "$found/ansible_collections/panelup/fleet/MANIFEST.json"
}
check "panelup-ansible: ansible-doc finds panelup.fleet.panel and fleet_report, of the package's version" \
  collection_found

# The clean root: debootstrap's minbase with man-db, made once and kept as a tarball.
mkdir -p "$cache"
base=$cache/bookworm-minbase-man-db.tar
if [ ! -f "$base" ]; then
  mirror=$(mirror_from_sources | head -n 1)
  [ -n "$mirror" ] || { echo "FAIL: no bookworm mirror in this machine's apt sources"; exit 1; }
  rm -rf "$cache/root"
  echo "== debootstrap minbase bookworm into $cache (once)"
  debootstrap_minbase "$cache/root" "$mirror" --include=man-db || { echo "FAIL: debootstrap"; exit 1; }
  tar -C "$cache/root" -cf "$base.new" . && mv "$base.new" "$base" && rm -rf "$cache/root"
fi
# A run that was killed may have left /dev bound under the old root: unmount before deleting it,
# and never delete across a mount.
work=$(realpath -m "$work")
root=$work/root
awk -v w="$work/" 'index($2, w) == 1 { print $2 }' /proc/mounts | sort -r | xargs -r -n 1 umount -l
rm -rf --one-file-system "$work"
mkdir -p "$root"
tar -C "$root" -xf "$base"

trap unmount_all EXIT
trap 'exit 1' INT TERM
mount_in_root proc proc /proc
mount_in_root bind /dev /dev
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/panelup.deb"
in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive /bin/bash -c "$1"
}
# Every path but the bookkeeping of dpkg and apt, logs and caches: what purge must restore.
snapshot() {
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./tmp -o -path ./var/log \
    -o -path ./var/cache -o -path ./var/lib/dpkg -o -path ./var/lib/apt -o -path ./etc/resolv.conf \) \
    -prune -o -print | LC_ALL=C sort)
}
snapshot >"$work/before.txt"

echo "== dpkg -i, then apt-get -f install"
in_root "dpkg -i /tmp/panelup.deb" >"$work/dpkg-i.log" 2>&1
in_root "apt-get -qq update && apt-get -y -q -f install" >"$work/apt-f.log" 2>&1
apt_status=$?
tail -n 5 "$work/apt-f.log"
installed() {
  [ "$apt_status" -eq 0 ] &&
    [ "$(chroot "$root" dpkg-query -W -f="\${Status}" panelup)" = "install ok installed" ]
}
check "apt-get -f install brings the dependencies and configures panelup" installed

helps() { in_root "panelupctl --help" | grep -q "^usage: panelupctl schedule"; }
check "panelupctl --help prints its usage" helps
finds_image() {
  in_root "panelupctl --version" >"$work/version.txt" 2>&1
  sed 's/^/  /' "$work/version.txt"
  grep -qx "panelupctl $(dpkg-deb -f "$deb" Version)" "$work/version.txt" &&
    grep -q "^image to stage: /usr/lib/panelup/Panelup.efi, build " "$work/version.txt"
}
check "panelupctl --version: its own version, and it would stage the packaged image" finds_image
man_finds() { [ "$(in_root "man -w panelupctl")" = /usr/share/man/man8/panelupctl.8.gz ]; }
check "man -w panelupctl finds the page" man_finds
man_quiet() { [ -z "$(in_root "MANWIDTH=80 man --warnings panelupctl 2>&1 >/dev/null")" ]; }
check "man renders the page without a warning" man_quiet
unit_enabled() {
  grep -qx "ExecStart=/usr/sbin/panelupctl status --json --save /var/lib/panelup/last-result.json" \
    "$root/lib/systemd/system/panelup-result.service" &&
    [ "$(readlink "$root/etc/systemd/system/multi-user.target.wants/panelup-result.service")" = \
      /lib/systemd/system/panelup-result.service ]
}
check "the unit starts the packaged panelupctl and is enabled for multi-user.target" unit_enabled
check "i2c-dev is loaded at boot, for reading the bridge" \
  grep -qx i2c-dev "$root/usr/lib/modules-load.d/panelup.conf"
completes() {
  # shellcheck disable=SC2016 # expanded by the root's bash
  [ "$(in_root 'source /usr/share/bash-completion/completions/panelupctl
    COMP_WORDS=(panelupctl sch); COMP_CWORD=1; _panelupctl; echo "${COMPREPLY[*]}"
    COMP_WORDS=(panelupctl schedule 2 6 --then p); COMP_CWORD=5; _panelupctl; echo "${COMPREPLY[*]}"')" = \
    "schedule
power-cycle" ]
}
check "bash completes 'panelupctl sch' to schedule, and --then p to power-cycle" completes

# What the unit leaves at boot; purge takes it too.
mkdir -p "$root/var/lib/panelup" && echo '{}' >"$root/var/lib/panelup/last-result.json"
echo "== apt-get purge panelup, then autoremove --purge"
in_root "apt-get -y -q purge panelup && apt-get -y -q autoremove --purge" >"$work/purge.log" 2>&1
purge_status=$?
tail -n 3 "$work/purge.log"
snapshot >"$work/after.txt"
diff "$work/before.txt" "$work/after.txt" >"$work/left.txt"
nothing_left() {
  sed 's/^/  /' "$work/left.txt"
  [ "$purge_status" -eq 0 ] && [ ! -s "$work/left.txt" ]
}
check "purge and autoremove leave the root as it was before dpkg -i" nothing_left

unmount_all
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
