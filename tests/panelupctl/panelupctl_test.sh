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
ctl=$here/../../scripts/panelupctl
# shellcheck source=../emulator/checks.sh
. "$here/../emulator/checks.sh"

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
vars=$work/firmware/efi/efivars
esp=$work/esp
mkdir -p "$vars" "$esp" "$work/boot"
printf '\006\000\000\000\000' >"$vars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c"
record=$vars/PanelupResult-c9cb406d-1006-4f44-a948-50e9b1c0b402
export PANELUPCTL_EFIVARS=$vars PANELUPCTL_TEST_ESP=$esp STUB_EFIBOOTMGR_DIR=$work/boot
export PATH="$here:$PATH"
staged=$esp/EFI/Panelup/Panelup.efi

# ctl ARGS...: panelupctl's stdout, stderr and status in out, err and rc.
ctl() {
  rc=0
  "$ctl" "$@" >"$work/out" 2>"$work/err" || rc=$?
}
# schedule ARGS...: of the build's image, a test build (a later --efi wins).
schedule() { ctl schedule --efi "$efi_dir/Panelup.efi" --test-images "$@"; }
# The one JSON object on stdout, else nothing: "result cid".
json() {
  python3 -c 'import json, sys; o = json.load(sys.stdin); print(o["result"], o.get("cid"))' \
    <"$work/out" 2>/dev/null || true
}
plant() { printf '%b%s' "$1" "$2" >"$record"; } # attribute bytes (printf escapes), text
ours() { grep -c $'\tPanelup update\t' "$work/boot/entries" || true; }
next() { cat "$work/boot/next"; }
machine() { (cd "$work" && find boot esp -type f -exec md5sum {} + | sort); }
fresh() { # no record, no boot entries, an empty ESP
  rm -rf "${esp:?}"/* "$record"
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
EOF
fresh
ctl status --json
check "no record: exit 3, one object" test "$rc $(json)" = "3 no-record None"
PANELUPCTL_EFIVARS=$work/bios/efivars ctl status --json
check "not UEFI: exit 1, one object" test "$rc $(json)" = "1 refused None"

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

echo "$failures failed"
[ "$failures" -eq 0 ]
