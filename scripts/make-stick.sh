#!/usr/bin/env bash
# Builds the recovery stick: a FAT disk image (no partition table) holding Panelup.efi and a
# startup.nsh that the UEFI Shell runs at boot. It finds its own volume, runs /s and /f CID PID,
# appends their console text and exit statuses to panelup.log on the stick, writes panelup.done
# after a passed update (later boots then flash nothing) and switches the machine off.
#
#   make-stick.sh [--sim] [--shell FILE] EFI_DIR CID PID IMAGE
#     --sim         test build for the emulator: also carries SimChip.efi and simctl.efi, runs
#                   sim-setup.nsh (load SimChip.efi; the tests may replace it) before the tool
#                   and sim-teardown.nsh, when the tests put one there, before the power-off
#     --shell FILE  a UEFI Shell image to start as \EFI\BOOT\BOOTX64.EFI on machines without a
#                   built-in shell
set -euo pipefail

sim=0
shell_efi=""
while [ $# -gt 0 ]; do
  case "$1" in
  --sim) sim=1; shift ;;
  --shell) shell_efi=${2:?--shell needs a file}; shift 2 ;;
  *) break ;;
  esac
done
die() {
  echo "make-stick: $*" >&2
  exit 2
}
[ $# -eq 4 ] || die "usage: make-stick.sh [--sim] [--shell FILE] EFI_DIR CID PID IMAGE (make stick CID=2 PID=6)"
efi_dir=$1
cid=$2
pid=$3
image=$4
# The operands go into a shell script: decimal bytes only, so nothing else can reach it.
for v in "$cid" "$pid"; do
  if ! [[ "$v" =~ ^[0-9]{1,3}$ ]] || [ "$((10#$v))" -gt 255 ]; then
    die "CID and PID are numbers from 0 to 255 (make stick CID=2 PID=6), got '$v'"
  fi
done
cid=$((10#$cid))
pid=$((10#$pid))
files=("$efi_dir/Panelup.efi")
[ "$sim" -eq 0 ] || files+=("$efi_dir/SimChip.efi" "$efi_dir/simctl.efi")
for f in "${files[@]}" ${shell_efi:+"$shell_efi"}; do
  [ -f "$f" ] || die "$f is missing: build first"
done
if ! command -v mkfs.fat >/dev/null || ! command -v mcopy >/dev/null; then
  die "mkfs.fat and mcopy are missing (scripts/install-deps.sh installs dosfstools and mtools)"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# In the emulator's test build: runs NAME.nsh from the stick when the tests put one there.
sim_script() {
  [ "$sim" -eq 1 ] || return 0
  printf 'if exist %s.nsh then\n  %s.nsh\nendif\n' "$1" "$1"
}

# The shell's script language: %a is the loop variable, %lasterror% the last exit status; >>a
# appends as ASCII text. Lines end in CR LF.
{
  cat <<EOF
@echo -off
# Panelup recovery stick: flashes the panel firmware for CID $cid, PID $pid once.
# Finds its own volume by panelup-stick.txt, logs every step to panelup.log there and writes
# panelup.done after a passed update, so that later boots do not flash again.
set -v stickvol none
for %a run (0 31)
  if exist fs%a:\\panelup-stick.txt then
    set -v stickvol fs%a:
  endif
endfor
if %stickvol% == none then
  echo "Panelup stick: its own volume is not found; nothing flashed"
  goto end
endif
%stickvol%
cd \\
echo "=== Panelup stick, boot at:" >>a panelup.log
date >>a panelup.log
time >>a panelup.log
if exist panelup.done then
  echo "panelup.done is present: flashed before, nothing done" >>a panelup.log
  echo "Panelup stick: flashed before (panelup.done); nothing done"
  goto end
endif
EOF
  sim_script sim-setup
  cat <<EOF
echo "Panelup stick: updating the panel firmware; do not switch off"
Panelup.efi /s >>a panelup.log
echo "exit status of Panelup.efi /s: %lasterror%" >>a panelup.log
Panelup.efi /f $cid $pid >>a panelup.log
set -v flashstatus %lasterror%
echo "exit status of Panelup.efi /f $cid $pid: %flashstatus%" >>a panelup.log
if %flashstatus% == 0 then
  echo "Panelup.efi /f $cid $pid passed" >a panelup.done
  echo "Panelup stick: update passed; switching off"
else
  echo "Panelup stick: update failed (%flashstatus%); the next boot tries again"
endif
EOF
  sim_script sim-teardown
  cat <<'EOF'
:end
reset -s
EOF
} | sed 's/$/\r/' >"$work/startup.nsh"
echo "Panelup recovery stick: /f $cid $pid. Its startup.nsh looks for this file." >"$work/panelup-stick.txt"
[ "$sim" -eq 0 ] || printf 'load SimChip.efi\r\n' >"$work/sim-setup.nsh"

rm -f "$image"
truncate -s 16M "$image"
mkfs.fat -F 16 -n PANELUP --invariant "$image" >/dev/null
mcopy -i "$image" "${files[@]}" "$work/startup.nsh" "$work/panelup-stick.txt" ::/
[ "$sim" -eq 0 ] || mcopy -i "$image" "$work/sim-setup.nsh" ::/
if [ -n "$shell_efi" ]; then
  mmd -i "$image" ::/EFI ::/EFI/BOOT
  mcopy -i "$image" "$shell_efi" ::/EFI/BOOT/BOOTX64.EFI
fi
if grep -q "kAllImagesGenuine = false" "$efi_dir/../generated/catalogue_images.h" 2>/dev/null; then
  echo "make-stick: WARNING: this Panelup.efi carries TEST PATTERNS in place of missing firmware" \
    "images; the stick is for the emulator only, NOT for real panels." >&2
fi
echo "make-stick: $image (/f $cid $pid$([ "$sim" -eq 0 ] || echo ', emulator test build'))"
