# shellcheck shell=bash
# A Debian kernel package for the emulator's Linux, fetched with apt-get download from this
# machine's apt sources and unpacked (never installed) into a cache folder, once. Sourced by the
# scripts that boot one; `die` is theirs.
#   kernel_tree META CACHE   prints the unpacked tree of the linux-image-6.1.0-NN-FLAVOUR that
#                            the meta package META depends on (linux-image-cloud-amd64 or
#                            linux-image-amd64)
#   package_tree NAME CACHE  prints the tree of package NAME (this Debian's version), fetched
#                            and unpacked into CACHE/NAME the first time
kernel_tree() {
  local meta=$1 cache=$2 package
  mkdir -p "$cache"
  cache=$(cd "$cache" && pwd)
  local flavour=${meta#linux-image-}
  package_of() {
    apt-cache depends "$meta" 2>/dev/null |
      sed -n "s/^ *Depends: \(linux-image-[0-9.]*-[0-9]*-$flavour\)\$/\1/p" | head -n 1
  }
  # Trees unpacked before, of this flavour only (linux-image-6.1.0-NN-FLAVOUR).
  unpacked() {
    find "$cache" -mindepth 2 -maxdepth 2 -name .unpacked -printf '%h\n' 2>/dev/null |
      xargs -r -n 1 basename | grep -E "^linux-image-[0-9.]+-[0-9]+-$flavour\$" | sort -V
  }
  package=$(package_of) || true
  if [ -z "$package" ] && [ -z "$(unpacked)" ] && [ "$(id -u)" -eq 0 ]; then
    # A machine whose package lists were never fetched (or were cleaned) knows no kernel yet.
    echo "apt-get update, to find the $meta package" >&2
    apt-get update -qq || true
    package=$(package_of) || true
  fi
  if [ -z "$package" ]; then
    # No package lists (offline, or apt-get update not run yet): one unpacked before will do.
    package=$(unpacked | tail -n 1) || true
    [ -n "$package" ] ||
      die "apt-cache knows no $meta and nothing is cached in $cache: run apt-get update"
  fi
  package_tree "$package" "$cache"
}

package_tree() {
  local package=$1 cache=$2 download tree
  mkdir -p "$cache"
  cache=$(cd "$cache" && pwd)
  tree="$cache/$package"
  if [ ! -f "$tree/.unpacked" ]; then
    echo "fetching $package into $cache" >&2
    download=$(mktemp -d "$cache/download.XXXXXX")
    chmod 755 "$download" # apt-get download works as the _apt user where it can
    (cd "$download" && apt-get download -q "$package" >/dev/null) ||
      die "apt-get download $package failed"
    rm -rf "$tree"
    dpkg-deb -x "$download"/"$package"_*.deb "$tree"
    rm -rf "$download"
    touch "$tree/.unpacked"
  fi
  echo "$tree"
}
