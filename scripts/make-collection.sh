#!/usr/bin/env bash
# Builds the Ansible collection panelup.fleet (os/ansible/panelup/fleet) into
# OUT/panelup-fleet-VERSION.tar.gz with ansible-galaxy, offline (the collection has no
# dependencies), with the tree's VERSION in its galaxy.yml: VERSION stays the version's one place.
#   make-collection.sh OUT     (the build runs it: target collection; debian/rules too)
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: make-collection.sh OUT" >&2
  exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "$1")
if ! command -v ansible-galaxy >/dev/null 2>&1; then
  echo "make-collection: ansible-galaxy is missing (scripts/install-deps.sh)" >&2
  exit 1
fi
# shellcheck source=scripts/tree-version.sh
source "$repo/scripts/tree-version.sh"
version=$(tree_version "$repo")

# A copy, so the tree's galaxy.yml keeps its version line and the build leaves the tree alone.
stage=$out/stage
rm -rf "$stage"
mkdir -p "$stage"
cp -r "$repo/os/ansible/panelup/fleet/." "$stage"
sed -i "s/^version: .*/version: $version/" "$stage/galaxy.yml"
rm -f "$out/panelup-fleet-$version.tar.gz"
if ! ansible-galaxy collection build --output-path "$out" "$stage" >"$out/build.log" 2>&1; then
  cat "$out/build.log" >&2
  echo "make-collection: ansible-galaxy collection build failed" >&2
  exit 1
fi
rm -rf "$stage"
echo "make-collection: $out/panelup-fleet-$version.tar.gz"
