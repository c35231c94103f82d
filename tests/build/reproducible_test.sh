#!/usr/bin/env bash
# Builds the UEFI images twice from clean, in two directories of different paths and at different
# times, and requires the same bytes: a build that embeds a path or a time cannot be checked
# against the binaries it shipped.
#   reproducible_test.sh <source> <generated-dir> <work-dir> [access-code]
set -euo pipefail
src=$1
generated=$2
work=$3
code=${4:-20220909042}
rm -rf "$work"
mkdir -p "$work"

build() { # dir
  local dir=$1
  if ! { cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/efi-toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DPANELUP_FIRMWARE=ON -DPANELUP_ACCESS_CODE="$code" \
    -DPANELUP_GENERATED_DIR="$generated" && cmake --build "$dir" -j"$(nproc)"; } >"$dir.log" 2>&1; then
    cat "$dir.log"
    echo "FAIL: the build in $dir failed"
    exit 1
  fi
}

build "$work/first"
sleep 1 # a second later, so an embedded time differs
build "$work/second-build"

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
