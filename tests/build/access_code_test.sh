#!/usr/bin/env bash
# Builds Panelup.efi with several access codes and searches each image for its code as one
# ASCII or UCS-2 string: the code must be compared digit by digit, never stored whole, at the
# optimisation the UEFI build uses.
#   access_code_test.sh <source> <generated-dir> <work-dir> CODE...
set -euo pipefail
src=$(cd "$1" && pwd)
generated=$(cd "$2" && pwd)
work=$3
shift 3
rm -rf "$work"
mkdir -p "$work"

# Exit 0 when FILE holds TEXT as ASCII bytes or as UCS-2 (little-endian) characters.
holds() { # file text
  python3 - "$1" "$2" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
text = sys.argv[2]
sys.exit(0 if text.encode() in data or text.encode("utf-16-le") in data else 1)
PY
}

status=0
for code in "$@"; do
  dir=$work/code-$code
  if ! { cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/efi-toolchain.cmake" \
    -DPANELUP_UEFI_BUILD=ON -DPANELUP_ACCESS_CODE="$code" -DPANELUP_GENERATED_DIR="$generated" &&
    cmake --build "$dir" --target Panelup; } >"$dir.log" 2>&1; then
    cat "$dir.log"
    echo "FAIL: the build with access code $code failed"
    exit 1
  fi
  # The search itself must find a string the image does hold.
  holds "$dir/Panelup.efi" "KOVA Panelup Utility" || { echo "FAIL: the search misses the banner"; exit 1; }
  if holds "$dir/Panelup.efi" "$code"; then
    echo "FAIL: Panelup.efi built with access code $code holds it as one string"
    status=1
  else
    echo "access code $code: not in Panelup.efi as ASCII or UCS-2"
  fi
done
exit $status
