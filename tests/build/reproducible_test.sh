#!/usr/bin/env bash
# Builds the UEFI images twice from clean, at different times, from sources and into build
# directories at different paths, and requires the same bytes: a build that embeds a path or a
# time cannot be checked against the binaries it shipped.
#   reproducible_test.sh <source> <generated-dir> <work-dir> [access-code]
set -euo pipefail
src=$1
generated=$2
work=$3
code=${4:-20220909042}
rm -rf "$work"
mkdir -p "$work"

build() { # source-dir build-dir
  local source=$1 dir=$2
  if ! { cmake -S "$source" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/efi-toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DPANELUP_UEFI_BUILD=ON -DPANELUP_ACCESS_CODE="$code" \
    -DPANELUP_GENERATED_DIR="$generated" && cmake --build "$dir" -j"$(nproc)"; } >"$dir.log" 2>&1; then
    cat "$dir.log"
    echo "FAIL: the build in $dir failed"
    exit 1
  fi
}

# A copy of the sources under another path, build trees (this one too) left out.
work=$(cd "$work" && pwd)
src=$(cd "$src" && pwd)
generated=$(cd "$generated" && pwd)
mkdir -p "$work/sources-copy"
tar -C "$src" --exclude='./build*' --exclude=./.git --exclude="./${work#"$src"/}" -cf - . |
  tar -C "$work/sources-copy" -xf -

build "$src" "$work/first"
# Built again at once, the tree is up to date: nothing compiles or links.
again=$(cmake --build "$work/first" 2>&1) || { echo "$again"; echo "FAIL: the second build failed"; exit 1; }
if grep -E "Building|Linking" <<<"$again"; then
  echo "FAIL: a second build with nothing changed compiled or linked"
  exit 1
fi
sleep 1 # a second later, so an embedded time differs
build "$work/sources-copy" "$work/second-build"

status=0
for image in Panelup.efi SimChip.efi simctl.efi; do
  if cmp "$work/first/$image" "$work/second-build/$image"; then
    echo "$image: identical ($(stat -c %s "$work/first/$image") bytes)"
  else
    echo "FAIL: $image differs between two clean builds"
    status=1
  fi
done
exit $status
