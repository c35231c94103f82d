#!/usr/bin/env bash
# The built UEFI images as a firmware loader sees them, read by llvm-readobj: PE32+ for x86-64
# with the right subsystem, nothing imported (no loader would resolve it), not marked as loadable
# only at its preferred address, base relocations present where the image holds absolute
# addresses (firmware loads images wherever it finds memory), no section both writable and
# executable, and the entry point in executable code.
#   efi_images_test.sh <efi-dir>
set -euo pipefail
dir=$1
readonly kScnMemExecute=0x20000000 kScnMemWrite=0x80000000

# check FILE SUBSYSTEM HOLDS-ADDRESSES: prints a FAIL line for each check missed, returns 1 then.
check() {
  local file=$1 subsystem=$2 holds_addresses=$3 headers failed=0 entry in_code=0 name va size flags
  fail() { echo "FAIL: $file: $*"; failed=1; }
  headers=$(llvm-readobj --file-headers --sections "$dir/$file" 2>&1) || {
    fail "llvm-readobj cannot read it: $headers"
    return 1
  }
  field() { awk -v key="$1:" '$1 == key { print $2; exit }' <<<"$headers"; }
  [[ $(field Format) == COFF-x86-64 && $(field Machine) == IMAGE_FILE_MACHINE_AMD64 ]] ||
    fail "not an x86-64 PE image"
  # The other fields sit where PE32+ puts them only in a PE32+ image.
  [[ $(field Magic) == 0x20B ]] || { fail "not PE32+ (magic $(field Magic))"; return 1; }
  [[ $(field Subsystem) == "$subsystem" ]] || fail "subsystem $(field Subsystem), want $subsystem"
  [[ $(field ImportTableSize) == 0x0 ]] || fail "imports nothing can resolve"
  if grep -q IMAGE_FILE_RELOCS_STRIPPED <<<"$headers"; then
    fail "marked as loadable only at its preferred address"
  fi
  if [[ $holds_addresses == yes && ($(field BaseRelocationTableRVA) == 0x0 ||
    $(field BaseRelocationTableSize) == 0x0) ]]; then
    fail "no base relocations: loadable only at its preferred address"
  fi
  entry=$(($(field AddressOfEntryPoint)))
  while read -r name va size flags; do
    if ((flags & kScnMemWrite && flags & kScnMemExecute)); then
      fail "section $name is writable and executable"
    fi
    if ((entry >= va && entry < va + size)); then
      in_code=$((flags & kScnMemExecute ? 1 : 0))
    fi
  done < <(awk '/^Sections \[/ { s = 1 } !s { next } $1 == "Name:" { n = $2 } $1 == "VirtualSize:" { v = $2 }
    $1 == "VirtualAddress:" { a = $2 } $1 == "Characteristics" { print n, a, v, substr($3, 2, length($3) - 2) }' \
    <<<"$headers")
  ((in_code)) || fail "entry point $(field AddressOfEntryPoint) is not in an executable section"
  ((failed == 0)) && echo "$file: loadable, subsystem $subsystem"
  return $failed
}

status=0
check Panelup.efi IMAGE_SUBSYSTEM_EFI_APPLICATION yes || status=1
check simctl.efi IMAGE_SUBSYSTEM_EFI_APPLICATION yes || status=1
# The driver builds its protocol at run time and holds no absolute address.
check SimChip.efi IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER no || status=1
# The checks must be able to fail: a driver is no application.
if check SimChip.efi IMAGE_SUBSYSTEM_EFI_APPLICATION no >/dev/null; then
  echo "FAIL: the checks take SimChip.efi for an application"
  status=1
fi
exit $status
