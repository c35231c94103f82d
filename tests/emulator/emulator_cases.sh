#!/usr/bin/env bash
# Panelup.efi and simctl.efi in OVMF's UEFI Shell under QEMU, against SimChip.efi's simulated
# chip. A boot costs about ten seconds of software emulation, so the cases share two boots, in
# order: later cases see what earlier ones left (driver loaded, chip settings, CMOS). The second
# boot runs on the first one's variable store, as after a power cycle of the machine.
#
#   emulator_cases.sh EFI_DIR OUT_DIR BUILD_DIR
#     BUILD_DIR: the host build, for the blank key-area backup it makes and the images it embeds
#
# A case is one shell command line with what it must give:
#   status  the exit status as %lasterror% shows it (0x16), or "*" for no check
#   text    what the command's console text (since its last screen clear) must hold:
#           a literal line fragment, "re:REGEX" for an extended regular expression on one line,
#           "!FRAGMENT" for a fragment that must not appear, "@blank" for a blank screen, or ""
#           for no check; several joined by " && "
#   ec      the bytes the command writes to the EC port 0x66, hex and space separated
#           ("" for none, "*" for no check)
set -euo pipefail

efi_dir=${1:?usage: emulator_cases.sh EFI_DIR OUT_DIR BUILD_DIR}
out=${2:?usage: emulator_cases.sh EFI_DIR OUT_DIR BUILD_DIR}
build=${3:?usage: emulator_cases.sh EFI_DIR OUT_DIR BUILD_DIR}
repo=$(cd "$(dirname "$0")/../.." && pwd)

commands=()
statuses=()
texts=()
ecs=()
failures=0
# Number (from 1) the next case gets in its boot.
next_case() {
  echo $((${#commands[@]} + 1))
}
add_case() {
  commands+=("$1")
  statuses+=("$2")
  texts+=("$3")
  ecs+=("$4")
}

fail() {
  echo "FAIL $1: $2"
  failures=$((failures + 1))
}

# boot NAME RUN-EMULATOR-OPTIONS...: runs the cases added so far in one boot with its files in
# OUT_DIR/NAME, checks them, and starts an empty list for the next boot.
boot() {
  boot_name=$1
  boot_out="$out/$1"
  shift
  "$repo/scripts/run-emulator.sh" --efi-dir "$efi_dir" --out "$boot_out" "$@" \
    -- "${commands[@]}" || echo "the emulator run did not finish; checking what it gave"
  results="$boot_out/results.txt"
  check_cases
  ran=$((${ran:-0} + ${#commands[@]}))
  commands=()
  statuses=()
  texts=()
  ecs=()
}

# Value of KEY=VALUE in case K's console text, of the boot just run.
value_of() {
  grep -Eo "(^| )$2=[^ ]+" "$boot_out/cmd-$1.txt" | head -n 1 | sed "s/^ \{0,1\}$2=//"
}

# expect_same WHAT A B: two values taken from different cases must agree (and be there).
expect_same() {
  if [ -z "$2" ] || [ "$2" != "$3" ]; then
    fail "$boot_name" "$1: '$2' and '$3' differ"
  else
    echo "ok   $boot_name $1"
  fi
}

# Field `field` (CMD, STATUS, EC) of command k, from results.txt's three lines per command.
result_field() {
  sed -n "$((($1 - 1) * 3 + $2))p" "$results" | sed "s/^$3 \\{0,1\\}//"
}

check_cases() {
  for i in "${!commands[@]}"; do
    k=$((i + 1))
    name="$boot_name $k (${commands[$i]})"
    text_file="$boot_out/cmd-$k.txt"
    if [ "$(result_field "$k" 1 CMD)" != "${commands[$i]}" ]; then
      fail "$name" "no result"
      continue
    fi
    ok=1
    got=$(result_field "$k" 2 STATUS)
    if [ "${statuses[$i]}" != "*" ] && [ "$got" != "${statuses[$i]}" ]; then
      fail "$name" "exit status $got, expected ${statuses[$i]}"
      ok=0
    fi
    rest=${texts[$i]}
    while [ -n "$rest" ]; do
      want=${rest%% && *}
      [ "$want" != "$rest" ] && rest=${rest#* && } || rest=""
      case "$want" in
      @blank)
        if grep -q '[^[:space:]]' "$text_file"; then
          fail "$name" "the screen is not blank"
          ok=0
        fi
        ;;
      !*)
        if grep -Fq -- "${want#!}" "$text_file"; then
          fail "$name" "a line holds '${want#!}'"
          ok=0
        fi
        ;;
      re:*)
        if ! grep -Eq -- "${want#re:}" "$text_file"; then
          fail "$name" "no line matches /${want#re:}/"
          ok=0
        fi
        ;;
      *)
        if ! grep -Fq -- "$want" "$text_file"; then
          fail "$name" "no line holds '$want'"
          ok=0
        fi
        ;;
      esac
    done
    got=$(result_field "$k" 3 EC)
    if [ "${ecs[$i]}" != "*" ] && [ "$got" != "${ecs[$i]}" ]; then
      fail "$name" "EC bytes '$got', expected '${ecs[$i]}'"
      ok=0
    fi
    if [ "$ok" -eq 1 ]; then
      echo "ok   $name"
    else
      echo "---- console text of $k:"
      cut -c1-400 "$text_file" # the progress line alone runs to many kilobytes
      echo "----"
    fi
  done
}

# Without SimChip.efi the firmware has no SMBus host controller.
add_case "Panelup.efi /s" 0x18 "re:VTQ_001D.*Not Found" ""
add_case "simctl report" 0x2 "SimChip.efi is not loaded" ""
add_case "load SimChip.efi" 0x0 "" ""

# Command line forms.
add_case "Panelup.efi" 0xA "Panelup.efi  /f  2 6" ""
add_case "Panelup.efi /x" 0x0 "KOVA Panelup Utility Version : [ V1.0.0.42-2022-09-09]" ""
add_case "Panelup.efi /q 2 6" 0xFF "@blank" ""
add_case "Panelup.efi /f 2" 0x1F "" ""
add_case "Panelup.efi /s" 0x16 "On board = [ 02.06.12 ]" ""

# The simulated chip as simctl sets it up.
add_case "simctl version 1 3 4" 0x0 "chipid=1605 version=1.3.4" ""
add_case "Panelup.efi /s" 0x16 "On board = [ 01.03.04 ]" ""
add_case "simctl version 2 6 12" 0x0 "" ""
add_case "simctl id 1605x" 0x1 "usage: simctl" ""

# CMOS through the platform's own RTC ports.
add_case "simctl cmos set 70 2" 0x0 "cmos[70]=02" ""
add_case "simctl cmos get 70" 0x0 "cmos[70]=02" ""

# The support list reads the version recorded in CMOS.
add_case "simctl cmos set 71 6" 0x0 "cmos[71]=06" ""
add_case "Panelup.efi /g" 0x15 "  * 03  |  02    06    19  |  7 inch     H070BWX002 && re:^    05  \|  02    08    04" ""
add_case "simctl cmos set 70 7" 0x0 "" ""
add_case "Panelup.efi /g" 0x15 "LT7911D FW support List && !inch" ""
add_case "Panelup.efi /g 20220909042" 0x1E "    01  |  01    01    19 && re:^    09  \|  02    08    04 && !*" ""

# Whole updates: the image lands in flash (14840 bytes of entry 2.6.19, programmed in 16-byte
# pages), the key area survives, CMOS and the EC port tell the outcome.
add_case "simctl reset" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0x0 "VTQ_005C Compare  pass!" "8B 8A"
add_case "simctl report" 0x0 "programmed=14848 && keyarea=intact" ""
add_case "simctl cmos get 72" 0x0 "cmos[72]=13" ""
add_case "simctl cmos get 79" 0x0 "cmos[79]=FF" ""
add_case "Panelup.efi /g" 0x15 "  * 03  |  02    06    19" ""
# A flash byte that keeps a bit set: every image starts with 0x02, which then reads back 0x03.
add_case "simctl fault stuck 0 01" 0x0 "" ""
add_case "simctl reset" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xF8 "ReadFirmware[0000]=[ 0003]" "8B 8C"
add_case "simctl cmos get 79" 0x0 "cmos[79]=FF" ""
add_case "simctl fault clear" 0x0 "fault: none" ""

# Another chip answers: nothing is erased, the status byte says why.
add_case "simctl id 1606" 0x0 "chipid=1606" ""
add_case "Panelup.efi /f 2 6" 0xFF "Read chipid fail(chipid[1606] !=0x1605) && VTQ_002L  the chip offline" "8B"
add_case "simctl cmos get 79" 0x0 "cmos[79]=F9" ""
add_case "simctl report" 0x0 "keyarea=intact" ""
add_case "simctl id 1605" 0x0 "" ""

# Bad input: each gets its defined status and nothing hangs.
long_digits=$(printf '9%.0s' $(seq 1 600))
add_case "Panelup.efi /s$long_digits" 0x16 "On board = [ 02.06.12 ]" ""
add_case "Panelup.efi /q $long_digits 6" 0xFF "@blank" ""
add_case "Panelup.efi /g $long_digits" 0x1F "!support List" ""
add_case $'Panelup.efi /g \xc3\xa9\xe2\x82\xac' 0x1F "" ""
add_case $'Panelup.efi /\xc3\xa9' 0x0 "KOVA Panelup Utility" ""
add_case 'Panelup.efi ""' 0x0 "KOVA Panelup Utility" ""
add_case "Panelup.efi /f 2 6 $(seq -s ' ' 1 60)" 0x0 "!VTQ_001 LT7911D FW [" ""

# The rig itself: a byte on the EC port lands in this command's group.
add_case "mm 66 8B -IO -w 1 -n" 0x0 "" "8B"

# The key area in custody: a backup variable that outlives cuts and reboots. The shell names it so:
key_var="PanelupHdcpKey -guid b05edac5-f6bc-451f-be6a-bcf4b11daf21"
# The unfinished-update marker beside it.
marker_var="PanelupKeyCrc -guid b05edac5-f6bc-451f-be6a-bcf4b11daf21"
key_var_shown="re:^Variable NV\+BS '[0-9A-F-]+:PanelupHdcpKey' DataSize = 0x11E"
backup_original="backup=original attributes=0x3 size=286"

# A clean update from power-on: the transaction count the cut points below are placed by.
add_case "simctl reset" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0x0 "VTQ_005C Compare  pass! && !restored from backup" "8B 8A"
clean_report=$(next_case)
add_case "simctl report" 0x0 "transactions=51079 && keyarea=intact" ""
add_case "simctl backup" 0x0 "backup=none" ""

# A flipped bit in the first key byte the save reads (transaction 38, in the first of its two
# passes, 21-478): nothing is erased, no backup stored, nothing after the save reaches the bus.
add_case "simctl reset" 0x0 "" ""
add_case "simctl fault flip-read 38 01" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xFE "VTQ_002K  SaveHdcpKeyFromFlash unstable, flash not erased && !BlockErase" "8B"
add_case "simctl report" 0x0 "transactions=937 && flash=original" ""
add_case "simctl cmos get 79" 0x0 "cmos[79]=F9" ""
add_case "simctl backup" 0x0 "backup=none" ""
add_case "simctl fault clear" 0x0 "" ""

# A power cut during the firmware write (947-26940), the power back, and a retry in the same
# boot: the key area comes back from the backup, which goes once the compare has passed.
add_case "simctl reset" 0x0 "" ""
add_case "simctl fault bus-fail-from 12000" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xF8 "VTQ_002J  upgrade Fail" "*"
add_case "simctl report" 0x0 "keyarea=changed && !programmed=14848" ""
add_case "simctl backup" 0x0 "$backup_original" ""
add_case "dmpstore $key_var" "*" "$key_var_shown" ""
add_case "simctl cycle" 0x0 "" ""
# The bus dying inside the key reads (21-936) while the backup waits: given up before the erase,
# with nothing restored, erased or compared.
add_case "simctl fault bus-fail-from 300" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xFE "VTQ_002K  SMBus given up, flash not erased && !restored from backup && !BlockErase && !VTQ_005A" "8B"
add_case "simctl cycle" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0x0 "VTQ_002B  HdcpKey restored from backup && VTQ_005C Compare  pass!" "8B 8A"
retry_report=$(next_case)
add_case "simctl report" 0x0 "programmed=14848 && keyarea=intact" ""
add_case "simctl backup" 0x0 "backup=none" ""

# Another chip's key area as the backup: refused before the erase, the backup kept. Then the
# operator's way out: save it to a file, delete it (and it can come back from the file).
add_case "simctl reset" 0x0 "" ""
add_case "simctl backup plant 1234" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xFE "VTQ_002K  HdcpKey backup belongs to another chip, flash not erased && !BlockErase" "8B"
add_case "simctl report" 0x0 "transactions=937 && flash=original" ""
add_case "simctl cmos get 79" 0x0 "cmos[79]=F9" ""
add_case "simctl backup" 0x0 "backup=other attributes=0x3 size=286" ""
add_case "dmpstore $key_var -s other-key.bin" 0x0 "$key_var_shown" ""
add_case "dmpstore -d $key_var" 0x0 "Success" ""
add_case "simctl backup" 0x0 "backup=none" ""
add_case "dmpstore $key_var -l other-key.bin" 0x0 "$key_var_shown" ""
add_case "simctl backup" 0x0 "backup=other attributes=0x3 size=286" ""
add_case "dmpstore -d $key_var" 0x0 "Success" ""
add_case "Panelup.efi /f 2 6" 0x0 "VTQ_005C Compare  pass! && !restored from backup" "8B 8A"

# A power cut after the erase, then the backup and the marker lost (setup defaults or a firmware
# update wipe the store; the retry runs on another machine): a blank key area is never taken as
# the key.
add_case "simctl reset" 0x0 "" ""
add_case "simctl fault bus-fail-from 12000" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xF8 "VTQ_002J  upgrade Fail" "*"
add_case "dmpstore -d $key_var" 0x0 "Success" ""
add_case "dmpstore -d $marker_var" 0x0 "Success" ""
add_case "simctl cycle" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xFE "VTQ_002K  HdcpKey blank (18 of 18 pages) and no backup, flash not erased && !BlockErase" "8B"
add_case "simctl report" 0x0 "transactions=937 && keyarea=changed" ""
add_case "simctl backup" 0x0 "backup=none" ""
# A chip that never had a key area: the operator loads the blank backup the build made, and the
# update runs; the backup goes once both compares have passed.
add_case "simctl keyarea blank" 0x0 "keyarea: blank from the factory" ""
add_case "Panelup.efi /f 2 6" 0xFE "HdcpKey blank (18 of 18 pages) and no backup" "8B"
add_case "dmpstore $key_var -l blank-key-area.bin" 0x0 "$key_var_shown" ""
add_case "simctl backup" 0x0 "$backup_original" ""
add_case "Panelup.efi /f 2 6" 0x0 "VTQ_005C Compare  pass! && !restored from backup" "8B 8A"
add_case "simctl report" 0x0 "programmed=14848 && keyarea=intact" ""
add_case "simctl backup" 0x0 "backup=none" ""
# A key area wiped to zeros is no key either, and no backup is stored for it.
add_case "simctl keyarea zero" 0x0 "keyarea: zeroed" ""
add_case "Panelup.efi /f 2 6" 0xFE "VTQ_002K  HdcpKey zeroed (18 of 18 pages) and no backup, flash not erased && !BlockErase" "8B"
add_case "simctl backup" 0x0 "backup=none" ""
add_case "simctl keyarea factory" 0x0 "keyarea: its own" ""

# Four failed data writes, one in each of the first four key pages (the write-back starts at
# 26941, a page takes 26): the garbled area is restored from the backup on the retry.
add_case "simctl fault bus-fail-at 26953 4 26" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xF8 "VTQ_005B Compare ReadHdcpKey[" "8B 8C"
add_case "simctl fault clear" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0x0 "VTQ_002B  HdcpKey restored from backup && VTQ_005C Compare  pass!" "8B 8A"
add_case "simctl report" 0x0 "keyarea=intact" ""

# One failed data write in the first key page, then the backup deleted (saved to a file first):
# the marker the update left keeps the garbled area from being taken as the key, and the saved
# backup, loaded back, restores it. The marker goes with the backup.
add_case "simctl reset" 0x0 "" ""
add_case "simctl fault bus-fail-at 26953 1 1" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xF8 "VTQ_005B Compare ReadHdcpKey[" "8B 8C"
add_case "dmpstore $key_var -s own-key.bin" 0x0 "$key_var_shown" ""
add_case "dmpstore -d $key_var" 0x0 "Success" ""
add_case "simctl fault clear" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xFE "VTQ_002K  last update did not finish and HdcpKey backup is gone, flash not erased && !BlockErase" "8B"
add_case "dmpstore $key_var -l own-key.bin" 0x0 "$key_var_shown" ""
add_case "Panelup.efi /f 2 6" 0x0 "VTQ_002B  HdcpKey restored from backup && VTQ_005C Compare  pass!" "8B 8A"
add_case "simctl report" 0x0 "keyarea=intact" ""
add_case "dmpstore $marker_var" "*" "No matching variables found" ""

# Backups the tool never stores: refused before the erase and left as they are. One with runtime
# access, as an operating system could plant one; one of another size; an all-zero one; and this
# chip's own key area with its last 136 bytes zeroed, which the restore rule alone would let
# over the key.
zeros=$(printf '0%.0s' $(seq 1 572))
add_case "simctl reset" 0x0 "" ""
add_case "setvar $key_var -bs -rt -nv =$zeros" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xFE "VTQ_002K  HdcpKey backup not stored by this tool, flash not erased" "8B"
add_case "simctl report" 0x0 "transactions=937 && keyarea=intact" ""
add_case "simctl backup" 0x0 "backup=other attributes=0x7 size=286" ""
add_case "dmpstore -d $key_var" 0x0 "Success" ""
add_case "setvar $key_var -bs -nv =$(printf '0%.0s' $(seq 1 600))" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xFE "VTQ_002K  HdcpKey backup not stored by this tool, flash not erased && !BlockErase" "8B"
add_case "simctl backup" 0x0 "backup=other attributes=0x3 size=300" ""
add_case "dmpstore -d $key_var" 0x0 "Success" ""
add_case "simctl reset" 0x0 "" ""
add_case "setvar $key_var -bs -nv =$zeros" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xFE "VTQ_002K  HdcpKey backup is no key area, flash not erased && !BlockErase" "8B"
add_case "simctl report" 0x0 "transactions=937 && keyarea=intact" ""
add_case "simctl backup" 0x0 "backup=other attributes=0x3 size=286" ""
add_case "dmpstore -d $key_var" 0x0 "Success" ""
add_case "dmpstore $key_var -l half-key.bin" 0x0 "$key_var_shown" ""
add_case "Panelup.efi /f 2 6" 0xFE "VTQ_002K  HdcpKey backup is no key area, flash not erased && !BlockErase" "8B"
add_case "dmpstore -d $key_var" 0x0 "Success" ""

# Reads that differ from pass to pass (a flipped bit in the first) with the backup present: each
# pass is within the restore rule, so the retry recovers instead of stopping at every boot.
add_case "simctl reset" 0x0 "" ""
add_case "simctl fault bus-fail-from 12000" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xF8 "VTQ_002J  upgrade Fail" "*"
add_case "simctl cycle" 0x0 "" ""
add_case "simctl fault flip-read 38 01" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0x0 "VTQ_002B  HdcpKey restored from backup && VTQ_005C Compare  pass!" "8B 8A"
add_case "simctl report" 0x0 "programmed=14848 && keyarea=intact" ""
add_case "simctl fault clear" 0x0 "" ""

# A copy of the tool with one bit flipped in the 2.6.19 image (a bad copy to a stick): stopped
# after the chip id, before anything reaches the flash; the copy's other images still flash.
add_case "simctl reset" 0x0 "" ""
add_case "PanelupDamaged.efi /f 2 6" 0xFE "VTQ_002K  FW image H070BWX002 [ 02.06.19 ] damaged, flash not erased && !ConfigPara" "8B"
add_case "simctl report" 0x0 "transactions=13 && flash=original" ""
add_case "simctl backup" 0x0 "backup=none" ""
add_case "PanelupDamaged.efi /f 2 5" 0x0 "VTQ_005C Compare  pass!" "8B 8A"

# The same build on a controller without the simulator's mark, as on a real machine: its test
# patterns never reach the chip, and nothing reaches the chip, the CMOS or the EC.
add_case "simctl reset" 0x0 "" ""
add_case "simctl cmos set 79 00" 0x0 "" ""
add_case "simctl mark off" 0x0 "mark: off (Success)" ""
add_case "Panelup.efi /f 2 6" 0xFE "VTQ_002K  FW image H070BWX002 [ 02.06.19 ] is a test pattern, not for a real panel, nothing written && !flash from" ""
add_case "simctl report" 0x0 "transactions=0 && flash=original" ""
add_case "simctl cmos get 79" 0x0 "cmos[79]=00" ""
add_case "simctl backup" 0x0 "backup=none" ""
add_case "simctl mark on" 0x0 "mark: on (Success)" ""

# A power cut during the key write-back (26941-27418), the power stays off: the chip goes into
# the variable store for the second boot.
add_case "simctl reset" 0x0 "" ""
add_case "simctl fault bus-fail-from 27150" 0x0 "" ""
add_case "Panelup.efi /f 2 6" 0xF8 "VTQ_002J  upgrade Fail" "*"
cut_report=$(next_case)
add_case "simctl report" 0x0 "programmed=14848 && keyarea=changed" ""
add_case "simctl fault clear" 0x0 "" ""
add_case "simctl persist" 0x0 "re:^persist: settings and [0-9]+ flash bytes stored" ""

# The damaged copy: one bit of the 2.6.19 image flipped, found by its bytes as the build embedded
# them.
mkdir -p "$out"
python3 - "$efi_dir/Panelup.efi" "$build/generated/catalogue_images.cpp" "$out/PanelupDamaged.efi" <<'EOF'
import re, sys
efi = bytearray(open(sys.argv[1], "rb").read())
body = re.search(r"kCatalogueImage6\[\d+\] = \{([^}]*)\}", open(sys.argv[2]).read()).group(1)
image = bytes(int(v) for v in body.split(",") if v.strip())
at = efi.find(image)
assert at >= 0 and efi.find(image, at + 1) < 0, "the image is not in Panelup.efi once"
efi[at + 0x1000] ^= 0x10
open(sys.argv[3], "wb").write(efi)
EOF

# This chip's key area (FactoryKeyByte in sim/bridge_chip.cpp, the default seed) with bytes
# 150-285 zeroed, as a backup in dmpstore's file format (scripts/blank_key_backup.cpp).
python3 - "$out/half-key.bin" <<'EOF'
import struct, sys, zlib
def old_image_byte(o):
    b = ((o * 7) ^ (o >> 8) ^ 0x3C) & 0xFF
    return 0x02 if o == 0 else 0x00 if b == 0xFF else b
def key_byte(o):
    x = (0x5EED * 0x9E3779B1 + o * 0x85EBCA77 + 0x165667B1) & 0xFFFFFFFF
    x ^= x >> 15
    x = (x * 0x2C1B3C6D) & 0xFFFFFFFF
    x ^= x >> 12
    x = (x * 0x297A2D39) & 0xFFFFFFFF
    b = (x ^ (x >> 15)) & 0xFF
    b = 0x5A if b == 0xFF else b
    b = b ^ 0x81 if b == old_image_byte(o) else b
    return 0x7E if b == 0xFF else b
data = bytes(key_byte(o) if o < 150 else 0 for o in range(286))
name = "PanelupHdcpKey\0".encode("utf-16-le")
guid = struct.pack("<IHH8B", 0xB05EDAC5, 0xF6BC, 0x451F, 0xBE, 0x6A, 0xBC, 0xF4, 0xB1, 0x1D, 0xAF, 0x21)
record = struct.pack("<II", len(name), len(data)) + name + guid + struct.pack("<I", 3) + data
open(sys.argv[1], "wb").write(record + struct.pack("<I", zlib.crc32(record)))
EOF

vars="$out/vars.fd"
rm -f "$vars"
boot main --no-simchip --vars "$vars" --timeout 600 --file "$build/blank-key-area.bin" \
  --file "$out/PanelupDamaged.efi" --file "$out/half-key.bin"
expect_same "flash after the retry = flash after a clean update" \
  "$(value_of "$retry_report" flash_crc)" "$(value_of "$clean_report" flash_crc)"
cut_crc=$(value_of "$cut_report" flash_crc)
: "${cut_crc:=missing}"
clean_crc=$(value_of "$clean_report" flash_crc)
: "${clean_crc:=missing}"

# The second boot, on the same variable store: the rig loads SimChip.efi, which takes the chip
# from the store (and empties it); the backup is still there and the retry restores from it.
add_case "simctl report" 0x0 "origin=store && keyarea=changed && flash_crc=$cut_crc" ""
add_case "dmpstore -guid 620d4c8f-8abb-497b-b229-31b6de21b68c" "*" "!SimChipState && !SimChipFlash && SimChipRegisters" ""
add_case "dmpstore $key_var" "*" "$key_var_shown" ""
add_case "simctl backup" 0x0 "$backup_original" ""
add_case "Panelup.efi /f 2 6" 0x0 "VTQ_002B  HdcpKey restored from backup && VTQ_005C Compare  pass!" "8B 8A"
add_case "simctl report" 0x0 "keyarea=intact && flash_crc=$clean_crc" ""
add_case "simctl backup" 0x0 "backup=none" ""
boot reboot --vars "$vars" --timeout 150

echo "$ran cases, $failures failed"
[ "$failures" -eq 0 ]
