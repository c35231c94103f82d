#!/usr/bin/env bash
# panelupctl on a stand-in machine: a folder for efivarfs (libefivar's EFIVARFS_PATH), folders for
# two ESPs (PANELUPCTL_TEST_ESP) and one for /var/lib/panelup, so it never touches this machine's
# variables or boot entries; the real efibootmgr reads the same folder. It stages the build's own
# Panelup.efi with the catalogue beside it. Needs root (panelupctl checks it); as another user it
# runs in a user namespace that maps it to root.
#
#   panelupctl_test.sh EFI_DIR WORK_DIR   (EFI_DIR: the build's build/uefi)
set -euo pipefail
[ "$EUID" -eq 0 ] || exec unshare --map-root-user bash "$0" "$@"
efi_dir=$(cd "${1:?usage: panelupctl_test.sh EFI_DIR WORK_DIR}" && pwd)
work=${2:?usage: panelupctl_test.sh EFI_DIR WORK_DIR}
here=$(cd "$(dirname "$0")" && pwd)
ctl=$efi_dir/../panelupctl
# shellcheck source=../emulator/checks.sh
. "$here/../emulator/checks.sh"

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
vars=$work/firmware/efi/efivars
esp=$work/esp
esp2=$work/esp2
state=$work/state
mkdir -p "$vars" "$esp" "$esp2" "$state"
global=8be4df61-93ca-11d2-aa0d-00e098032b8c
secure_boot() { printf '\006\000\000\000%b' "$1" >"$vars/SecureBoot-$global"; }
secure_boot '\000'
record=$vars/PanelupResult-c9cb406d-1006-4f44-a948-50e9b1c0b402
settings=$vars/PanelupSchedule-c9cb406d-1006-4f44-a948-50e9b1c0b402
export EFIVARFS_PATH=$vars/ PANELUPCTL_TEST_ESP=$esp:$esp2 PANELUPCTL_STATE=$state
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
# entry NUMBER LABEL FILE [ESP]: a boot entry another tool made, HD(N,GPT,...)/File(FILE), on the
# stand-in ESP number ESP (1 or 2, default 1), as panelupctl's test partitions are.
entry() {
  python3 - "$vars/Boot$1-$global" "$2" "$3" "${4:-1}" <<'PY'
import struct, sys, uuid
path, label, file, n = sys.argv[1:]
guid = uuid.UUID('5e1f7e57-0000-4000-8000-%012x' % int(n))
hd = struct.pack('<BBHIQQ16sBB', 4, 1, 42, int(n), 2048, 131072, guid.bytes_le, 2, 2)
name = (file + '\0').encode('utf-16-le')
dp = hd + struct.pack('<BBH', 4, 4, 4 + len(name)) + name + bytes([0x7f, 0xff, 4, 0])
option = struct.pack('<IH', 1, len(dp)) + (label + '\0').encode('utf-16-le') + dp
open(path, 'wb').write(struct.pack('<I', 7) + option)
PY
}
# The listing as the real efibootmgr reads the folder.
listing() { efibootmgr -v 2>/dev/null; }
# Entries of ours: those that start \EFI\Panelup\Panelup.efi; their /f in args.
ours() { listing | grep -c 'File(\\EFI\\Panelup\\Panelup.efi)' || true; }
ours_number() { listing | sed -n 's/^Boot\([0-9A-F]\{4\}\).*File(\\EFI\\Panelup\\Panelup.efi).*/\1/p'; }
args() { listing | sed -n 's/.*File(\\EFI\\Panelup\\Panelup.efi)//p' | tr -d .; }
next() { listing | sed -n 's/^BootNext: //p'; }
machine() { (cd "$work" && find esp esp2 firmware state -type f ! -name lock -exec md5sum {} + | sort); }
fresh() { # no record, no settings, no boot entries, empty ESPs
  rm -rf "${esp:?}"/* "${esp2:?}"/* "$record" "$settings" "${state:?}"/* "$vars"/Boot*
}
# How often PATTERN is in panelupctl's FILE (out or err).
says() { grep -c -- "$2" "$work/$1" || true; }
same() { cmp -s "$1" "$2" && echo same || echo differs; }
# A boot entry nobody can read, in place of the firmware failing to hand over its variables.
unreadable_entries() { mkdir -p "$vars/Boot0009-$global"; }
readable_entries() { rmdir "$vars/Boot0009-$global"; }
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
a pass without a version|$nv|panelup-result/2 cid=2 pid=6 exit=0 from=none to=none time=2025-03-04T10:11:12 then=reboot attempts=0 build=1.0.0+unknown|4|unreadable None
month 13|$nv|panelup-result/1 cid=2 pid=6 exit=0 from=02.06.12 to=02.06.19 time=2025-13-45T99:99:99|4|unreadable None
EOF
fresh
ctl status --json
check "no record: exit 3, one object" test "$rc $(json)" = "3 no-record None"
EFIVARFS_PATH=$work/bios/efivars/ ctl status --json
check "not UEFI: exit 1, one object" test "$rc $(json)" = "1 refused None"

# Whether the new firmware runs is what the chip answers, never what the way the run ended
# suggests; this machine has no bridge (the adapter named is nowhere), so it is unknown. A /1
# record has none of the /2 fields.
b=1.0.0+g0123456789ab
nobus=(--adapter "no such adapter")
while IFS='|' read -r what text want_json want_text; do
  plant "$nv" "$text"
  ctl status --json "${nobus[@]}"
  check "$what: status --json $want_json" \
    test "$rc $(json result "then" attempts build running new_firmware_running)" = "$want_json"
  ctl status "${nobus[@]}"
  check "$what: status says '$want_text'" test "$(says out "$want_text")" = 1
done <<EOF
/2 passed, power-cycle|panelup-result/2 cid=2 pid=6 exit=0 $tail then=power-cycle attempts=1 build=$b|0 success power-cycle 1 $b None None|is unknown: the bridge was not read
/2 passed, reboot|panelup-result/2 cid=2 pid=6 exit=0 $tail then=reboot attempts=2 build=$b-dirty|0 success reboot 2 $b-dirty None None|not read (no i2c adapter no such adapter
/2 failed, power-cycle|panelup-result/2 cid=2 pid=6 exit=248 $tail then=power-cycle attempts=3 build=1.0.0+unknown|248 compare-failed power-cycle 3 1.0.0+unknown None None|schedule the update again and reboot (exit
/1 passed|panelup-result/1 cid=2 pid=6 exit=0 $tail|0 success None None None None None|starts after the first power-off
EOF
fresh

# Boot entries that cannot be read: never read as "no entries".
plant "$nv" "panelup-result/1 cid=2 pid=6 exit=248 $tail"
unreadable_entries
ctl status
check "status keeps the update's 248 when the entries cannot be read, and warns" \
  test "$rc $(says err "boot entries cannot be read")" = "248 1"
fresh
unreadable_entries
before=$(machine)
schedule 2 6
check "schedule with the entries unreadable: exit 1, nothing staged" \
  test "$rc $(says err "cannot list the boot entries") $(machine)" = "1 1 $before"
ctl cancel
check "cancel with the entries unreadable: exit 1, not 'Nothing scheduled'" \
  test "$rc $(says out Nothing)" = "1 0"
readable_entries
# A boot that was to run the update, the entries then unreadable: the update may have been cut
# short, so never "not yet" (exit 3, which the unit takes as fine).
schedule 2 6
rm "$settings" "$vars/BootNext-$global"
unreadable_entries
ctl status --json
check "scheduled, no record, entries unreadable: exit 1, refused" test "$rc $(json)" = "1 refused None"
readable_entries
fresh

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
schedule 2 6 --json --then power-cycle
check "two schedules: one entry, for /f 2 6, BootNext on it" \
  test "$rc $(ours) $(next) $(args)" = "0 1 $(ours_number) /f 2 6"
# No bridge here: the pair is scheduled unchecked, with a warning, and nothing is running.
check "schedule --json: one object, scheduled, the panel unread, the text on stderr" \
  test "$(json result changed cid pid running target "then" attempts) $(says err "cannot be checked against the panel")" = \
  "scheduled True 2 6 None 02.06.19 power-cycle 3 1"
check "the staged image is the build's, the leftover copy gone" \
  test "$(same "$staged" "$efi_dir/Panelup.efi") $(ls "$esp/EFI/Panelup")" = "same Panelup.efi"
ctl cancel --json
first=$(json result changed)
ctl cancel --json
check "cancel --json: changed once, then nothing left to change" \
  test "$first / $rc $(json result changed)" = "cancelled True / 0 cancelled False"
before=$(machine)
schedule --json "${nobus[@]}"
check "schedule without a pair and no adapter: exit 1, refused, nothing changed" \
  test "$rc $(json result changed) $(machine)" = "1 refused False $before"
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
# Another tool's entry is not ours by its label: only by what it starts.
entry 0007 "Panelup update" '\EFI\tools\netboot.efi'
printf '\007\000\000\000\007\000' >"$vars/BootNext-$global"
schedule 2 6
check "BootNext on another tool's \"Panelup update\": exit 1, BootNext kept" \
  test "$rc $(ours) $(next)" = "1 0 0007"
schedule 2 6 --force
check "... replaced with --force, the other entry kept" \
  test "$rc $(ours) $(next) $(listing | grep -c netboot)" = "0 1 $(ours_number) 1"
ctl cancel
check "cancel leaves the other tool's entry" test "$rc $(ours) $(listing | grep -c netboot)" = "0 0 1"
fresh

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
    test "$rc $(same "$settings" "$work/want") $(find "$state" -type f ! -name lock -printf "%f\n")" = "0 same scheduled"
done
before=$(machine)
for bad in "--then sleep" "--then" "--attempts 0" "--attempts 10" "--attempts x"; do
  # shellcheck disable=SC2086
  schedule 1 3 $bad
  check "schedule $bad: exit 2, nothing changed" test "$rc $(machine)" = "2 $before"
done
ctl cancel
check "cancel removes the entry, BootNext, the settings and the marker" \
  test "$rc $(ours) $(next) $(find "$settings" "$state" -type f ! -name lock 2>/dev/null | wc -l)" = "0 0  0"

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
rm "$vars/BootNext-$global" # the firmware used BootNext
ctl status --json
check "BootNext used, settings untaken: exit 5, never-ran" test "$rc $(json result)" = "5 never-ran"
rm "$settings"
ctl status --json
check "BootNext used, settings taken, no record: exit 5, interrupted" \
  test "$rc $(json result)" = "5 interrupted"
plant "$nv" "panelup-result/2 cid=2 pid=6 exit=0 $tail then=reboot attempts=1 build=$b"
ctl status
check "a record read: the entry, the image and the unit's marker go" \
  test "$rc $(ours) $(find "$esp" "$state" -type f ! -name lock | wc -l)" = "0 0 0"
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

secure_boot '\000'
fresh

# Images no firmware of this machine starts are refused before anything is staged (the host
# tests hold each kind; here the whole command on one).
mkdir -p "$work/cut"
cp "$efi_dir/panelup-catalogue.txt" "$work/cut/"
head -c "$(($(stat -c %s "$efi_dir/Panelup.efi") / 2))" "$efi_dir/Panelup.efi" >"$work/cut/Panelup.efi"
before=$(machine)
schedule 2 6 --efi "$work/cut/Panelup.efi"
check "an image cut in half: exit 1, nothing staged" \
  test "$rc $(says err "cut short") $(machine)" = "1 1 $before"
# A folder where the staged image goes: refused, no entry to a folder.
mkdir -p "$staged"
schedule 2 6
check "a folder in the staged image's place: exit 1, no entry" \
  test "$rc $(ours) $(says err "is a folder")" = "1 0 1"
fresh

# One at a time: a schedule waits while another command holds the lock (killed while it waits,
# it has changed nothing), and two at once leave one entry with BootNext on it.
exec {lock}>"$state/lock"
flock "$lock"
before=$(machine)
rc=0
timeout 2 "$ctl" schedule --efi "$efi_dir/Panelup.efi" --test-images 2 6 >/dev/null 2>&1 || rc=$?
check "schedule waits for the lock: nothing changed meanwhile" test "$rc $(machine)" = "124 $before"
exec {lock}>&-
schedule 1 3 --then power-cycle & schedule 2 6 & ctl status & wait
case "$(args)" in
"/f 1 3") want="then=power-cycle" ;;
*) want="then=reboot" ;;
esac
check "two schedules and a status at once: one entry, BootNext on it, its own settings" \
  test "$(ours) $(next) $(tail -c +5 "$settings" | grep -c "$want")" = "1 $(ours_number) 1"
fresh

# The ESP the update was staged on is the one status and cancel look at, not the first one.
schedule 2 6 --esp "$esp2"
plant "$nv" "panelup-result/2 cid=2 pid=6 exit=0 $tail then=reboot attempts=1 build=$b"
ctl status
check "scheduled on the second ESP: status removes its image there" \
  test "$rc $(ours) $(find "$esp2" -type f | wc -l)" = "0 0 0"
schedule 2 6 --esp "$esp2"
ctl cancel
check "... and cancel too" test "$rc $(ours) $(find "$esp2" -type f | wc -l)" = "0 0 0"
# A record of another pair than the one scheduled is not this update's result.
schedule 2 6
plant "$nv" "panelup-result/2 cid=1 pid=3 exit=0 $tail then=reboot attempts=1 build=$b"
ctl status --json
check "a record of /f 1 3 after a schedule of /f 2 6: exit 4, the entry kept" \
  test "$rc $(json) $(ours)" = "4 unreadable None 1"
fresh

# File names: an option's value is never an option, a folder is never written into, and a link
# at FILE.new is replaced, never written through.
plant "$nv" "panelup-result/2 cid=2 pid=6 exit=0 $tail then=reboot attempts=1 build=$b"
cd "$work"
ctl status --save --json
cd "$here"
check "status --save --json: exit 2, no file named --json.new" \
  test "$rc $(find "$work" -maxdepth 1 -name '*.new' | wc -l)" = "2 0"
schedule 2 6 --efi -v
check "schedule --efi -v: exit 2, a usage error" test "$rc $(says err "needs a file")" = "2 1"
mkdir -p "$work/saved"
ctl status --save "$work/saved"
check "status --save DIR: exit 1 in place of 0, DIR left empty" \
  test "$rc $(find "$work/saved" | wc -l)" = "1 1"
echo precious >"$work/target"
ln -sf "$work/target" "$work/result.json.new"
ctl status --save "$work/result.json"
check "status --save FILE with a link at FILE.new: the link's target untouched, FILE written" \
  test "$rc $(cat "$work/target") $(json "$work/result.json" result)" = "0 precious success"
# UTF-8 in JSON as UTF-8, not byte by byte.
ctl status --json --café
check "a UTF-8 argument in a reason stays UTF-8" \
  test "$rc $(grep -c 'café' "$work/out") $(grep -c 'u00c3' "$work/out")" = "2 1 0"
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
