#!/usr/bin/env bash
# panelupctl on a stand-in machine: a folder for efivarfs (PANELUPCTL_EFIVARS), a folder for the
# ESP (PANELUPCTL_TEST_ESP) and the stub efibootmgr beside this script first on PATH, so it never
# touches this machine's variables or boot entries. It stages the build's own Panelup.efi with the
# catalogue beside it. Needs root (panelupctl checks it); as another user it runs in a user
# namespace that maps it to root.
#
#   panelupctl_test.sh EFI_DIR WORK_DIR   (EFI_DIR: the build's build/uefi)
set -euo pipefail
[ "$EUID" -eq 0 ] || exec unshare --map-root-user bash "$0" "$@"
efi_dir=$(cd "${1:?usage: panelupctl_test.sh EFI_DIR WORK_DIR}" && pwd)
work=${2:?usage: panelupctl_test.sh EFI_DIR WORK_DIR}
here=$(cd "$(dirname "$0")" && pwd)
ctl=$here/../../os/panelupctl
# shellcheck source=../emulator/checks.sh
. "$here/../emulator/checks.sh"

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
vars=$work/firmware/efi/efivars
esp=$work/esp
state=$work/state
mkdir -p "$vars" "$esp" "$work/boot" "$state"
secure_boot() { printf '\006\000\000\000%b' "$1" >"$vars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c"; }
secure_boot '\000'
record=$vars/PanelupResult-c9cb406d-1006-4f44-a948-50e9b1c0b402
settings=$vars/PanelupSchedule-c9cb406d-1006-4f44-a948-50e9b1c0b402
export PANELUPCTL_EFIVARS=$vars PANELUPCTL_TEST_ESP=$esp STUB_EFIBOOTMGR_DIR=$work/boot
export PANELUPCTL_STATE=$state PATH="$here:$PATH"
staged=$esp/EFI/Panelup/Panelup.efi

# ctl ARGS...: panelupctl's stdout, stderr and status in out, err and rc.
ctl() {
  rc=0
  "$ctl" "$@" >"$work/out" 2>"$work/err" || rc=$?
}
# schedule ARGS...: of the build's image, a test build (a later --efi wins).
schedule() { ctl schedule --efi "$efi_dir/Panelup.efi" --test-images "$@"; }
# The one JSON object in FILE (default: stdout), else nothing: the values of KEYS (default:
# result cid), JSON's null as None.
json() {
  local file=$work/out keys
  [[ ${1:-} != */* ]] || { file=$1 && shift; }
  keys=("$@")
  [ $# -gt 0 ] || keys=(result cid)
  python3 -c 'import json, sys; o = json.load(sys.stdin); print(*[o.get(k) for k in sys.argv[1:]])' \
    "${keys[@]}" <"$file" 2>/dev/null || true
}
plant() { printf '%b%s' "$1" "$2" >"$record"; } # attribute bytes (printf escapes), text
ours() { grep -c $'\tPanelup update\t' "$work/boot/entries" || true; }
next() { cat "$work/boot/next"; }
machine() { (cd "$work" && find boot esp firmware state -type f -exec md5sum {} + | sort); }
fresh() { # no record, no settings, no boot entries, an empty ESP
  rm -rf "${esp:?}"/* "$record" "$settings" "${state:?}"/*
  : >"$work/boot/entries"
  : >"$work/boot/next"
}
# How often PATTERN is in panelupctl's FILE (out or err).
says() { grep -c -- "$2" "$work/$1" || true; }
same() { cmp -s "$1" "$2" && echo same || echo differs; }
fresh

# Records Panelup.efi never writes, or writes otherwise: each one with status and status --json.
nv='\007\000\000\000'
tail='from=02.06.12 to=02.06.19 time=2025-03-04T10:11:12'
while IFS='|' read -r what attributes text want want_json; do
  plant "$attributes" "$text"
  ctl status
  check "record $what: status exits $want" test "$rc" = "$want"
  plant "$attributes" "$text"
  ctl status --json
  check "record $what: status --json exits $want, one object: $want_json" \
    test "$rc $(json)" = "$want $want_json"
done <<EOF
exit=256|$nv|panelup-result/1 cid=2 pid=6 exit=256 $tail|4|unreadable None
exit=1|$nv|panelup-result/1 cid=2 pid=6 exit=1 $tail|4|unreadable None
exit=3|$nv|panelup-result/1 cid=2 pid=6 exit=3 $tail|4|unreadable None
cid=08 (decimal)|$nv|panelup-result/1 cid=08 pid=09 exit=0248 $tail|248|compare-failed 8
cid=256|$nv|panelup-result/1 cid=256 pid=6 exit=0 $tail|4|unreadable None
garbage|$nv|panelup-result/1 "\\ <script>|4|unreadable None
attributes NV+BS|\\003\\000\\000\\000|panelup-result/1 cid=2 pid=6 exit=0 $tail|4|unreadable None
empty file|||4|unreadable None
/2 then=sleep|$nv|panelup-result/2 cid=2 pid=6 exit=0 $tail then=sleep attempts=1 build=1.0.0+unknown|4|unreadable None
/1 with /2's fields|$nv|panelup-result/1 cid=2 pid=6 exit=0 $tail then=reboot attempts=1 build=1.0.0+unknown|4|unreadable None
EOF
fresh
ctl status --json
check "no record: exit 3, one object" test "$rc $(json)" = "3 no-record None"
PANELUPCTL_EFIVARS=$work/bios/efivars ctl status --json
check "not UEFI: exit 1, one object" test "$rc $(json)" = "1 refused None"

# What the tool did afterwards decides whether the new firmware runs: only a power cycle starts
# it. A /1 record has none of the /2 fields.
b=1.0.0+g0123456789ab
while IFS='|' read -r what text want_json want_text; do
  plant "$nv" "$text"
  ctl status --json
  check "$what: status --json $want_json" \
    test "$rc $(json result "then" attempts build new_firmware_running)" = "$want_json"
  ctl status
  check "$what: status says '$want_text'" test "$(says out "$want_text")" = 1
done <<EOF
/2 passed, power-cycle|panelup-result/2 cid=2 pid=6 exit=0 $tail then=power-cycle attempts=1 build=$b|0 success power-cycle 1 $b True|The panel runs its new firmware
/2 passed, reboot|panelup-result/2 cid=2 pid=6 exit=0 $tail then=reboot attempts=2 build=$b-dirty|0 success reboot 2 $b-dirty False|starts after the next power-off
/2 failed, power-cycle|panelup-result/2 cid=2 pid=6 exit=248 $tail then=power-cycle attempts=3 build=1.0.0+unknown|248 compare-failed power-cycle 3 1.0.0+unknown False|schedule the update again and reboot (exit
/1 passed|panelup-result/1 cid=2 pid=6 exit=0 $tail|0 success None None None False|starts after the next power-off
EOF
fresh

# efibootmgr failing: never read as "no entries".
plant "$nv" "panelup-result/1 cid=2 pid=6 exit=248 $tail"
STUB_EFIBOOTMGR_FAIL=list ctl status
check "status keeps the update's 248 when the tidying fails, and warns" \
  test "$rc $(says err "cannot list the boot entries")" = "248 1"
fresh
before=$(machine)
STUB_EFIBOOTMGR_FAIL=list schedule 2 6
check "schedule with efibootmgr failing: exit 1, nothing staged" \
  test "$rc $(says err "cannot list the boot entries") $(machine)" = "1 1 $before"
STUB_EFIBOOTMGR_FAIL=list ctl cancel
check "cancel with efibootmgr failing: exit 1, not 'Nothing scheduled'" \
  test "$rc $(says out Nothing)" = "1 0"

# Scheduling. A test build is refused without --test-images, and says what it is.
before=$(machine)
ctl schedule --efi "$efi_dir/Panelup.efi" 2 6
check "a test build: exit 1, nothing staged, the reason given" \
  test "$rc $(says err "is a test build") $(machine)" = "1 1 $before"
ctl --version --efi "$efi_dir/Panelup.efi"
check "--version: its own version and the image's build" \
  test "$rc $(says out "^panelupctl $(cat "$here/../../VERSION")\$") $(says out "build $(cut -d' ' -f1 "$efi_dir/../generated/build-id.txt"), TEST PATTERNS")" = "0 1 1"
mkdir -p "$esp/EFI/Panelup"
echo leftover >"$esp/EFI/Panelup/Panelup.new"
schedule 1 3
schedule 2 6
check "two schedules: one entry, for /f 2 6, BootNext on it" \
  test "$rc $(ours) $(next) $(cut -f3 "$work/boot/entries")" = "0 1 $(cut -f1 "$work/boot/entries") /f 2 6"
check "the staged image is the build's, the leftover copy gone" \
  test "$(same "$staged" "$efi_dir/Panelup.efi") $(ls "$esp/EFI/Panelup")" = "same Panelup.efi"
fresh
before=$(machine)
schedule 9 9
check "a pair not in the catalogue: exit 1, nothing staged, the reason given" \
  test "$rc $(says err "9/9 is not in the catalogue") $(machine)" = "1 1 $before"
schedule 9 9 --any-pair
check "... scheduled with --any-pair" test "$rc $(ours)" = "0 1"
fresh
mkdir -p "$work/alone"
cp "$efi_dir/Panelup.efi" "$work/alone/"
schedule 2 6 --efi "$work/alone/Panelup.efi"
check "an image without a catalogue beside it: exit 1, the reason given" \
  test "$rc $(ours) $(says err "no catalogue")" = "1 0 1"
printf '0007\tDiagnostics\t\n' >"$work/boot/entries"
echo 0007 >"$work/boot/next"
schedule 2 6
check "BootNext on another entry: exit 1, BootNext kept" test "$rc $(ours) $(next)" = "1 0 0007"
schedule 2 6 --force
check "... replaced with --force" test "$rc $(ours) $(next)" = "0 1 0000"

# The tool's settings: one ASCII line after NV+BS+RT, as asked or by default; bad ones refused
# before anything changes.
for asked in "" "--then power-cycle --attempts 9" "--then return --attempts 1"; do
  # shellcheck disable=SC2086 # the options are words
  schedule 2 6 $asked
  want=$(printf 'panelup-schedule/1 then=%s attempts=%s' "$(sed -n 's/.*--then \([a-z-]*\).*/\1/p' <<<"$asked")" \
    "$(sed -n 's/.*--attempts \([0-9]\).*/\1/p' <<<"$asked")")
  [ -n "$asked" ] || want="panelup-schedule/1 then=reboot attempts=3"
  printf '\007\000\000\000%s' "$want" >"$work/want"
  check "schedule ${asked:-(defaults)}: PanelupSchedule holds '$want', a marker for the unit" \
    test "$rc $(same "$settings" "$work/want") $(ls "$state")" = "0 same scheduled"
done
before=$(machine)
for bad in "--then sleep" "--then" "--attempts 0" "--attempts 10" "--attempts x"; do
  # shellcheck disable=SC2086
  schedule 1 3 $bad
  check "schedule $bad: exit 2, nothing changed" test "$rc $(machine)" = "2 $before"
done
ctl cancel
check "cancel removes the entry, BootNext, the settings and the marker" \
  test "$rc $(ours) $(next) $(find "$settings" "$state" -type f 2>/dev/null | wc -l)" = "0 0  0"

# Settings the firmware does not keep: neither an entry nor BootNext stays, so no boot into
# Panelup.efi runs with other settings than asked.
schedule 2 6
mv "$settings" "$work/old-settings" && mkdir "$settings"
schedule 1 3 --then power-cycle
check "settings that cannot be written: exit 1, no entry, no BootNext" \
  test "$rc $(ours) $(next) $(says err "no boot entry was made")" = "1 0  1"
rmdir "$settings"
fresh

# A boot that passed without a record: never ran (the settings still there), or was cut short
# (the tool took them); neither is "still to come".
schedule 2 6
ctl status --json
check "scheduled, not yet run: exit 3, scheduled" test "$rc $(json result scheduled)" = "3 no-record True"
: >"$work/boot/next" # the firmware used BootNext
ctl status --json
check "BootNext used, settings untaken: exit 5, never-ran" test "$rc $(json result)" = "5 never-ran"
rm "$settings"
ctl status --json
check "BootNext used, settings taken, no record: exit 5, interrupted" \
  test "$rc $(json result)" = "5 interrupted"
plant "$nv" "panelup-result/2 cid=2 pid=6 exit=0 $tail then=reboot attempts=1 build=$b"
ctl status
check "a record read: the entry, the image and the unit's marker go" \
  test "$rc $(ours) $(find "$esp" "$state" -type f | wc -l)" = "0 0 0"
fresh

# Secure Boot: an image without a signature is refused (the firmware would not start it), a
# signed one is staged; --force overrides. A signed look: certificate table entry set in a copy.
secure_boot '\001'
before=$(machine)
schedule 2 6
check "Secure Boot on, image unsigned: exit 1, nothing changed, the reason given" \
  test "$rc $(says err "carries no signature") $(machine)" = "1 1 $before"
schedule 2 6 --force
check "... staged with --force" test "$rc $(ours)" = "0 1"
mkdir -p "$work/signed"
cp "$efi_dir/Panelup.efi" "$efi_dir/panelup-catalogue.txt" "$work/signed/"
python3 - "$work/signed/Panelup.efi" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
pe = struct.unpack_from('<I', data, 0x3c)[0]
magic = struct.unpack_from('<H', data, pe + 24)[0]
directories = pe + 24 + (112 if magic == 0x20b else 96)
struct.pack_into('<II', data, directories + 4 * 8, len(data), 16)
data += struct.pack('<IHH', 16, 0x200, 2) + bytes(8)  # a WIN_CERTIFICATE header, no content
open(path, 'wb').write(data)
PY
schedule 2 6 --efi "$work/signed/Panelup.efi"
check "Secure Boot on, a signed copy: staged" test "$rc $(ours) $(same "$staged" "$work/signed/Panelup.efi")" = "0 1 same"
mkdir -p "$work/not-pe"
cp "$efi_dir/panelup-catalogue.txt" "$work/not-pe/"
printf 'MZ panelup-build/1 id=1.0.0+unknown images=test' >"$work/not-pe/Panelup.efi"
schedule 2 6 --efi "$work/not-pe/Panelup.efi" --force
check "no PE/COFF image: exit 1 even with --force" test "$rc $(says err "is not a UEFI image")" = "1 1"

# The same readers with busybox's applets, all a small initramfs (the linux tier's) offers.
bb=$work/busybox
mkdir -p "$bb"
for applet in od dd wc tr grep head sed cmp cp mv rm mkdir chmod sync readlink; do
  ln -sf "$(command -v busybox)" "$bb/$applet"
done
PATH="$bb:$PATH" ctl --version --efi "$efi_dir/Panelup.efi"
check "busybox: --version reads the image's build mark" test "$(says out "^image to stage: .*TEST PATTERNS")" = 1
fresh
PATH="$bb:$PATH" schedule 2 6
check "busybox: Secure Boot on, image unsigned: refused" test "$rc $(says err "carries no signature")" = "1 1"
PATH="$bb:$PATH" schedule 2 6 --efi "$work/signed/Panelup.efi"
check "busybox: Secure Boot on, a signed copy: staged" test "$rc $(ours)" = "0 1"
secure_boot '\000'
fresh

# install: panelupctl with its version, the image, its catalogue and the unit under a prefix;
# the installed panelupctl finds the image there, and the unit starts it.
prefix=$work/prefix
ctl install --prefix "$prefix" --efi "$efi_dir/Panelup.efi"
unit=$prefix/lib/systemd/system/panelup-result.service
check "install: exit 0, the image and its catalogue in lib/panelup" \
  test "$rc $(same "$prefix/lib/panelup/Panelup.efi" "$efi_dir/Panelup.efi") $(same "$prefix/lib/panelup/panelup-catalogue.txt" "$efi_dir/panelup-catalogue.txt")" = "0 same same"
"$prefix/sbin/panelupctl" --version >"$work/out" 2>&1 || true
check "the installed panelupctl knows its version and stages lib/panelup's image" \
  test "$(says out "^panelupctl $(cat "$here/../../VERSION")\$") $(says out "^image to stage: $prefix/lib/panelup/Panelup.efi,")" = "1 1"
check "the unit starts the installed panelupctl" \
  test "$(grep -c "^ExecStart=$prefix/sbin/panelupctl status " "$unit")" = 1

# The unit's own command, on this stand-in machine: /var/lib/panelup is $state, its efivarfs
# files are the folder's. Its conditions name the files panelupctl and the tool write.
mapfile -t conditions < <(sed -n 's/^ConditionPathExists=|//p' "$unit" |
  sed -e "s|^/sys/firmware/efi/efivars/|$vars/|" -e "s|^/var/lib/panelup/|$state/|")
schedule 2 6
plant "$nv" "panelup-result/2 cid=2 pid=6 exit=0 $tail then=reboot attempts=1 build=$b"
check "the unit's three conditions are the record, the settings and the marker" \
  test "${#conditions[@]} $(find "${conditions[@]}" -maxdepth 0 2>/dev/null | wc -l)" = "3 3"
read -ra command < <(sed -n 's/^ExecStart=//p' "$unit" | sed "s|/var/lib/panelup/|$state/|g")
read -ra accepted < <(sed -n 's/^SuccessExitStatus=//p' "$unit")
while IFS='|' read -r what text want_unit want_file; do
  if [ -n "$text" ]; then plant "$nv" "$text"; else rm -f "$record"; fi
  rm -f "$state/last-result.json"
  rc=0
  "${command[@]}" >"$work/out" 2>"$work/err" || rc=$?
  verdict=failed
  for ok in 0 "${accepted[@]}"; do [ "$rc" != "$ok" ] || verdict=succeeded; done
  check "unit, $what: $verdict as expected, last-result.json says $want_file" \
    test "$verdict $(json "$state/last-result.json" result)" = "$want_unit $want_file"
done <<EOF
update passed|panelup-result/2 cid=2 pid=6 exit=0 $tail then=reboot attempts=1 build=$b|succeeded|success
update failed|panelup-result/2 cid=2 pid=6 exit=248 $tail then=reboot attempts=3 build=$b|failed|compare-failed
no record yet||succeeded|no-record
EOF
fresh

echo "$failures failed"
[ "$failures" -eq 0 ]
