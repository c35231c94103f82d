#!/usr/bin/env bash
# Tries the README's two top commands as a new user would: on a pristine minbase Debian 12 root
# with nothing else installed, with a clone of this repository's committed HEAD in it.
#
#   sudo scripts/fresh-machine-check.sh [--mirror URL] [--remove] [FOLDER]
#     FOLDER    where the root is made (default /tmp/panelup-fresh); must not exist yet
#     --mirror  the Debian mirror (default: the first one of the machine's apt sources that
#               serves bookworm)
#     --remove  delete the root afterwards (only once nothing is mounted under it)
#
# Steps: debootstrap the root; check that a user with neither root nor sudo gets one line saying
# what to install; run each command of the README's first code block as root in the chroot;
# report times, downloads and the test summary (also written to FOLDER.report.txt).
# Exit status 0 when every step did what it should.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
root=/tmp/panelup-fresh
mirror=""
remove=0
while [ $# -gt 0 ]; do
  case "$1" in
  --mirror) mirror=${2:?--mirror needs a URL}; shift 2 ;;
  --remove) remove=1; shift ;;
  -*) echo "fresh-machine-check: unknown option '$1'" >&2; exit 2 ;;
  *) root=$1; shift ;;
  esac
done

die() {
  echo "fresh-machine-check: $*" >&2
  exit 2
}
[ "$(id -u)" -eq 0 ] || die "needs root (debootstrap and chroot)"
[ ! -e "$root" ] || die "$root exists; give a new folder"
root=$(realpath -m "$root")
report=$root.report.txt

# shellcheck source=scripts/debian-root.sh
source "$repo/scripts/debian-root.sh"
[ -n "$mirror" ] || mirror=$(mirror_from_sources | head -n 1)
[ -n "$mirror" ] || die "no bookworm mirror in the apt sources; give --mirror"

if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi

trap unmount_all EXIT

log() { echo "$*" | tee -a "$report"; }
now() { date +%s; }
: >"$report" 2>/dev/null || { mkdir -p "$(dirname "$report")" && : >"$report"; }
log "fresh-machine check of $(git -C "$repo" rev-parse --short HEAD) ($(git -C "$repo" log -1 --format=%s))"
log "mirror: from the machine's apt sources; root: $root"

t=$(now)
debootstrap_minbase "$root" "$mirror" || die "debootstrap failed (log: $root.debootstrap.log)"
log "debootstrap minbase: $(($(now) - t)) s, $(chroot "$root" dpkg-query -W | wc -l) packages"
for tool in make sudo gcc git python3 file; do
  ! chroot "$root" sh -c "command -v $tool" >/dev/null || die "the minbase root already has $tool"
done

# What debootstrap itself fetched stays in apt's cache; the report counts only what came after.
base_debs=$(find "$root/var/cache/apt/archives" -name '*.deb' | sort)

mount_in_root proc proc /proc
mount_in_root sysfs sysfs /sys
mount_in_root bind /dev /dev
mount_in_root bind /dev/pts /dev/pts
mount_in_root tmpfs tmpfs /tmp
cp /etc/resolv.conf "$root/etc/resolv.conf"

# A clone of the committed HEAD, as a new user gets it; readable by everyone.
git clone -q --no-hardlinks "$repo" "$root/srv/panelup"
git -C "$root/srv/panelup" checkout -q "$(git -C "$repo" rev-parse HEAD)"
chmod -R a+rX "$root/srv/panelup"

in_root() { # user command
  chroot --userspec="$1" "$root" /usr/bin/env -i HOME="$([ "$1" = root ] && echo /root || echo /tmp)" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 TERM=dumb \
    /bin/bash -c "cd /srv/panelup && $2"
}

status=0
# Neither root nor sudo: one line that says what to install, and nothing else.
chroot "$root" useradd -M -N -g users -d /tmp newuser
if in_root newuser:users "./panelup.sh test" >"$root.nosudo.log" 2>&1; then
  log "FAIL: as a user without sudo, ./panelup.sh test succeeded on a bare root"
  status=1
elif [ "$(wc -l <"$root.nosudo.log")" -eq 1 ] && grep -q "apt-get install" "$root.nosudo.log"; then
  log "user without root or sudo: $(cat "$root.nosudo.log")"
else
  log "FAIL: a user without sudo got:"
  tee -a "$report" <"$root.nosudo.log"
  status=1
fi

# The README's first code block, one command per line, comments dropped.
mapfile -t commands < <(awk '/^```/ { if (inside) exit; inside = 1; next }
  inside { sub(/[ \t]*#.*/, ""); if ($0 != "") print }' "$root/srv/panelup/README.md")
[ ${#commands[@]} -gt 0 ] || die "README.md has no code block of commands"

n=0
for c in "${commands[@]}"; do
  n=$((n + 1))
  t=$(now)
  if in_root root "$c" >"$root.command-$n.log" 2>&1; then result="passed"; else
    result="FAILED (exit $?)"
    status=1
  fi
  log "as root, '$c': $result in $(($(now) - t)) s (log: $root.command-$n.log)"
  grep -E "tests passed|tests failed|^Installing:|exit status|run-emulator:" "$root.command-$n.log" |
    cut -c1-200 | sed 's/^/    /' | tee -a "$report"
done

new_debs=$(find "$root/var/cache/apt/archives" -name '*.deb' | sort | comm -13 <(echo "$base_debs") -)
count=0
bytes=0
while IFS= read -r deb; do
  [ -n "$deb" ] || continue
  count=$((count + 1))
  bytes=$((bytes + $(stat -c %s "$deb")))
done <<<"$new_debs"
log "downloaded by the commands: $count packages, $((bytes / 1048576)) MiB; installed now:" \
  "$(chroot "$root" dpkg-query -W | wc -l) packages; the root holds $(du -smx "$root" | cut -f1) MiB"

unmount_all
if [ "$remove" -eq 1 ]; then
  if grep -q " ${root}[/ ]" /proc/mounts; then
    log "not removing $root: something is still mounted under it"
  else
    rm -rf "$root"
  fi
fi
log "fresh-machine check: $([ $status -eq 0 ] && echo passed || echo FAILED)"
exit $status
