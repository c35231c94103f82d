#!/usr/bin/env bash
# Refreshes docs/screenshot-f26.png: the emulator's own display after Panelup.efi /f 2 6 against
# the simulated chip (QEMU's screendump of the VGA screen, converted to PNG).
set -euo pipefail
build=${1:-build}
repo=$(cd "$(dirname "$0")/.." && pwd)
out=$repo/$build/screenshot
mkdir -p "$out" "$repo/docs"

"$repo/scripts/run-emulator.sh" --efi-dir "$repo/$build/uefi" --out "$out" \
  --screendump "$out/screen.ppm" -- "Panelup.efi /f 2 6"
[ -s "$out/screen.ppm" ] || { echo "screenshot: no screen dump was taken" >&2; exit 1; }

python3 - "$out/screen.ppm" "$repo/docs/screenshot-f26.png" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
# Binary PPM: "P6", width, height, maxval, each followed by white space, then RGB bytes.
fields, pos = [], 0
while len(fields) < 4:
    while data[pos:pos + 1].isspace():
        pos += 1
    if data[pos:pos + 1] == b"#":
        pos = data.index(b"\n", pos) + 1
        continue
    end = pos
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[pos:end])
    pos = end
pos += 1
assert fields[0] == b"P6" and fields[3] == b"255", "not an 8-bit binary PPM"
width, height = int(fields[1]), int(fields[2])
pixels = data[pos:pos + width * height * 3]
rows = b"".join(b"\0" + pixels[y * width * 3:(y + 1) * width * 3] for y in range(height))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
open(sys.argv[2], "wb").write(png)
print(f"screenshot: {sys.argv[2]} ({width}x{height})")
PY
