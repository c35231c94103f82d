#!/usr/bin/env bash
# Builds the Ansible collection panelup.fleet (os/ansible/panelup/fleet) into
# OUT/panelup-fleet-VERSION.tar.gz with ansible-galaxy, offline (the collection has no
# dependencies), with the tree's VERSION in its galaxy.yml: VERSION stays the version's one place.
#   make-collection.sh OUT     (the build runs it: target collection)
set -euo pipefail

die() {
  echo "make-collection: $*" >&2
  exit 1
}
[ $# -eq 1 ] || die "usage: make-collection.sh OUT"
repo=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "$1")
command -v ansible-galaxy >/dev/null 2>&1 || die "ansible-galaxy is missing (scripts/install-deps.sh)"
read -r version <"$repo/VERSION" || die "cannot read VERSION"
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "VERSION must be three numbers, not '$version'"

stage=$out/stage
rm -rf "$stage"
mkdir -p "$stage"
cp -r "$repo/os/ansible/panelup/fleet/." "$stage"
sed -i "s/^version: .*/version: $version/" "$stage/galaxy.yml"
rm -f "$out/panelup-fleet-$version.tar.gz"
ansible-galaxy collection build --output-path "$out" "$stage" >"$out/build.log" 2>&1 ||
  { cat "$out/build.log"; die "ansible-galaxy collection build failed"; }
rm -rf "$stage"
echo "make-collection: $out/panelup-fleet-$version.tar.gz"
