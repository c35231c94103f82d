#!/usr/bin/env bash
# Scratch configures with prepared image folders: a corrupted or wrongly sized image must stop
# the configure naming the file; missing images must become test patterns of the catalogue's
# lengths, beginning with 0x02.
set -euo pipefail
src=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
manifest=$src/catalogue/images/manifest.txt

configure() { # image-dir build-dir [extra args]
  local images=$1 build=$2
  shift 2
  cmake -S "$src" -B "$build" -DPANELUP_IMAGE_DIR="$images" "$@" >"$build.log" 2>&1
}
fail() { echo "FAIL: $*"; exit 1; }
# CMake wraps its messages: compare with the log's words on one line.
says() { tr -s ' \n' '  ' <"$1" | grep -q "$2"; }

# A file of the right length with one byte changed.
mkdir -p "$work/corrupt"
cp "$manifest" "$work/corrupt/"
head -c 13641 /dev/zero | tr '\0' '\2' >"$work/corrupt/GV070WUM-L51.bin"
if configure "$work/corrupt" "$work/b-corrupt"; then fail "a corrupted image was accepted"; fi
says "$work/b-corrupt.log" "GV070WUM-L51.bin has CRC-32" || fail "the CRC message does not name the file"

# A file of the wrong length.
mkdir -p "$work/short"
cp "$manifest" "$work/short/"
head -c 100 /dev/zero >"$work/short/BW7002A.bin"
if configure "$work/short" "$work/b-short"; then fail "a short image was accepted"; fi
says "$work/b-short.log" "BW7002A.bin is 100 bytes, the catalogue says 13703" ||
  fail "the length message does not name the file"

# No images at all: test patterns, a loud warning, and an error when genuine images are required.
mkdir -p "$work/none"
cp "$manifest" "$work/none/"
configure "$work/none" "$work/b-none" || fail "configure without images failed"
says "$work/b-none.log" "NOT for real panels" || fail "no warning about test patterns"
generated=$work/b-none/generated/catalogue_images.cpp
while read -r index file length _; do
  [[ $index == \#* || -z $index ]] && continue
  bytes=$(awk -v name="kCatalogueImage$index\\[" '
    $0 ~ name { inside = 1; next }
    inside && /^};/ { print count; exit }
    inside { n = split($0, f, ","); count += n - 1; if (first == "") { first = f[1]; print "first " first > "/dev/stderr" } }
  ' "$generated" 2>"$work/first.$index")
  [ "$bytes" = "$length" ] || fail "$file: test pattern has $bytes bytes, want $length"
  grep -q "^first 2$" "$work/first.$index" || fail "$file: test pattern does not begin with 0x02"
done <"$manifest"
# A second configure with nothing changed leaves the generated sources alone, so nothing recompiles.
before=$(stat -c %y "$generated" "${generated%.cpp}.h" | sha256sum)
sleep 1
configure "$work/none" "$work/b-none" || fail "the second configure failed"
after=$(stat -c %y "$generated" "${generated%.cpp}.h" | sha256sum)
[ "$before" = "$after" ] || fail "a configure with nothing changed rewrote the generated sources"
if configure "$work/none" "$work/b-genuine" -DPANELUP_REQUIRE_GENUINE_IMAGES=ON; then
  fail "missing images were accepted although genuine images are required"
fi
says "$work/b-genuine.log" "is missing and genuine images are required" || fail "no message for the missing image"
echo "image checks passed"
