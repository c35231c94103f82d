#!/usr/bin/env bash
# Builds the Debian packages BUILD/panelup_VERSION_amd64.deb and, for the Ansible collection
# (os/ansible), BUILD/panelup-ansible_VERSION_all.deb with dpkg-buildpackage, in a copy of the
# sources under BUILD/deb (dpkg-buildpackage writes beside the source folder, never into the
# tree). The package holds what BUILD holds: the copy gets the changelog for VERSION, the commit
# of BUILD's build id (in .source-commit) and BUILD's access code and image options, and the
# packaged Panelup.efi must have the bytes of BUILD/uefi/Panelup.efi.
#
#   make-deb.sh BUILD       (make deb; BUILD must have been built)
#   for real panels: make CMAKE_ARGS=-DPANELUP_REQUIRE_GENUINE_IMAGES=ON && make deb
set -euo pipefail

die() {
  echo "make-deb: $*" >&2
  exit 1
}
[ $# -eq 1 ] || die "usage: make-deb.sh BUILD"
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" 2>/dev/null && pwd) || die "no folder $1"
for tool in dpkg-buildpackage dh tar; do
  command -v "$tool" >/dev/null 2>&1 || die "$tool is missing (scripts/install-deps.sh)"
done

# shellcheck source=scripts/tree-version.sh
source "$repo/scripts/tree-version.sh"
version=$(tree_version "$repo") || die "no version"
read -r id images <"$build/generated/build-id.txt" 2>/dev/null || die "$build is not built: make first"
commit=""
[[ $id != *+g* ]] || commit=${id#*+g}

# The changelog's date is the commit's, so the same commit gives the same package.
date=""
if command -v git >/dev/null 2>&1 && [ -e "$repo/.git" ]; then
  date=$(git -C "$repo" log -1 --format=%cD 2>/dev/null) || date=""
fi
[ -n "$date" ] || date=$(date -R -r "$repo/VERSION")

work=$build/deb
source=$work/panelup-$version
rm -rf "$work"
mkdir -p "$source"
tar -C "$repo" --exclude='./build*' --exclude=./.git --exclude=./out --exclude="./${build#"$repo"/}" \
  -cf - . | tar -C "$source" -xf -
[ -z "$commit" ] || printf '%s\n' "$commit" >"$source/.source-commit"
sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$date/" "$repo/debian/changelog.in" \
  >"$source/debian/changelog"
rm "$source/debian/changelog.in"

# BUILD's options that shape the image, for debian/rules.
options=()
for option in PANELUP_ACCESS_CODE PANELUP_REQUIRE_GENUINE_IMAGES; do
  value=$(sed -n "s/^$option:[A-Z]*=//p" "$build/CMakeCache.txt")
  [ -z "$value" ] || options+=("-D$option=$value")
done
export PANELUP_CMAKE_ARGS="${options[*]}"

echo "make-deb: building panelup $version ($id, $images images) in $source"
if ! (cd "$source" && dpkg-buildpackage -b -us -uc) >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log"
  die "dpkg-buildpackage failed (log: $work/build.log)"
fi
cmp -s "$source/obj/uefi/Panelup.efi" "$build/uefi/Panelup.efi" ||
  die "the packaged Panelup.efi differs from $build/uefi/Panelup.efi: build again (make), then make deb"
for deb in "panelup_${version}_amd64.deb" "panelup-ansible_${version}_all.deb"; do
  mv -f "$work/$deb" "$build/$deb"
  echo "make-deb: $build/$deb ($(($(stat -c %s "$build/$deb") / 1024)) KiB)"
done
[ "$images" = genuine ] ||
  echo "make-deb: its Panelup.efi has TEST PATTERNS in place of missing images: for test rigs only"
