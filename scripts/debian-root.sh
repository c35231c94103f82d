# shellcheck shell=bash
# Sourced by the scripts that make a Debian 12 root and work in it (fresh-machine-check.sh, the
# package tier): the mirror from this machine's own apt sources (none is written into the tree),
# debootstrap of a minbase root, and the mounts a chroot needs, undone in reverse order.

# The first mirror of the apt sources that serves bookworm, from one-line or deb822 sources.
mirror_from_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" |
      awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }'
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
      {
        deb = 0; suite = 0; uri = ""
        for (i = 1; i <= NF; i++) {
          line = $i; sub(/#.*/, "", line)
          if (line ~ /^Types:/ && line ~ /[ \t]deb([ \t]|$)/) deb = 1
          if (line ~ /^Suites:/ && line ~ /[ \t]bookworm([ \t]|$)/) suite = 1
          if (line ~ /^URIs:/) { split(line, u, /[ \t]+/); uri = u[2] }
        }
        if (deb && suite && uri != "") { print uri; exit }
      }' "$f"
  done
}

# debootstrap_minbase ROOT MIRROR [OPTION...]: a minbase bookworm root; its log is
# ROOT.debootstrap.log, whose tail is shown when it fails.
debootstrap_minbase() {
  local root=$1 mirror=$2
  shift 2
  if ! debootstrap --variant=minbase "$@" bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1; then
    tail -n 20 "$root.debootstrap.log"
    return 1
  fi
}

# mount_in_root TYPE-OR-bind SOURCE TARGET: mounted under $root, and noted for unmount_all (which
# the caller traps on EXIT).
mounts=()
mount_in_root() {
  mkdir -p "$root$3"
  if [ "$1" = bind ]; then mount --bind "$2" "$root$3"; else mount -t "$1" "$2" "$root$3"; fi
  mounts+=("$root$3")
}
unmount_all() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount -l "${mounts[$i]}" 2>/dev/null || true
  done
  mounts=()
}
