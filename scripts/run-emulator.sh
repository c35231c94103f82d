#!/usr/bin/env bash
# Boots OVMF's UEFI Shell under QEMU (software emulation) with Panelup.efi, SimChip.efi and
# simctl.efi on fs0:, runs the given shell command lines from startup.nsh and powers off.
#
#   run-emulator.sh [options] [-- COMMAND...]
#     --efi-dir DIR     where the three .efi images are (default: build/uefi)
#     --out DIR         where the run's files go (default: emulator/ beside the .efi folder)
#     --file FILE       also put FILE on fs0: (repeatable)
#     --no-simchip      do not load SimChip.efi before the commands
#     --show            print each command's console text and exit status to stdout
#     --interactive     serial console on this terminal; only fs0: and the driver load are run
#     --timeout SEC     hard limit for the whole boot (default: 60 + 60 per command)
#     --vars FILE       the variable store to boot on and keep: OVMF's empty one is copied there
#                       only when FILE does not exist, so a boot on the FILE an earlier boot used
#                       sees its non-volatile variables, as after a power cycle (default: a
#                       fresh vars.fd in the --out folder)
#     --screendump FILE after the last command, save the VGA screen (PPM) through the monitor
#                       (the only wait the rig adds: 3 s for the dump to be taken)
#   Each COMMAND is one shell command line, written to startup.nsh as it is: the shell's own
#   rules apply to it (% starts a variable, # a comment, ^ escapes the next character).
#
# Files in the --out folder:
#   esp/           the FAT volume: the images and the generated startup.nsh
#   console.log    the raw serial console; console.txt the same without terminal controls
#   ec.bin         every byte written to I/O port 0x66; the rig writes one 0x00 after each command
#   vars.fd        the boot's variable store (unless --vars names another)
#   results.txt    per command, in order:  CMD <line> / STATUS 0x.. (or none) / EC <hex bytes>
#   cmd-N.txt      the console text of command N (from 1) since its last screen clear, without
#                  terminal controls
#   monitor.sock   the QEMU monitor while the machine runs (see --screendump)
# Exit status: 0 when every command ran to its marker, 1 when the boot ended early (timeout,
# crash), 2 on bad usage or missing files.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
efi_dir="$repo/build/uefi"
out=""
simchip=1
show=0
interactive=0
timeout_sec=""
screendump=""
vars=""
commands=()
files=()

die() {
  echo "run-emulator: $*" >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
  --efi-dir) efi_dir=${2:?--efi-dir needs a folder}; shift 2 ;;
  --out) out=${2:?--out needs a folder}; shift 2 ;;
  --file) files+=("${2:?--file needs a file}"); shift 2 ;;
  --no-simchip) simchip=0; shift ;;
  --show) show=1; shift ;;
  --interactive) interactive=1; shift ;;
  --timeout) timeout_sec=${2:?--timeout needs seconds}; shift 2 ;;
  --screendump) screendump=${2:?--screendump needs a file}; shift 2 ;;
  --vars) vars=${2:?--vars needs a file}; shift 2 ;;
  --) shift; commands=("$@"); break ;;
  *) die "unknown option '$1' (see the head of $0)" ;;
  esac
done

ovmf_code=/usr/share/OVMF/OVMF_CODE_4M.fd
ovmf_vars=/usr/share/OVMF/OVMF_VARS_4M.fd
command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing (scripts/install-deps.sh)"
if [ ! -f "$ovmf_code" ] || [ ! -f "$ovmf_vars" ]; then
  die "OVMF is missing (scripts/install-deps.sh)"
fi
efi_dir=$(cd "$efi_dir" 2>/dev/null && pwd) || die "no folder $efi_dir"
for image in Panelup.efi SimChip.efi simctl.efi; do
  [ -f "$efi_dir/$image" ] || die "$efi_dir/$image is missing: build first"
done
[ -n "$out" ] || out="$(dirname "$efi_dir")/emulator"
mkdir -p "$out"
out=$(cd "$out" && pwd)
[ -z "$screendump" ] || [[ "$screendump" = /* ]] || screendump="$PWD/$screendump"
[ -z "$vars" ] || [[ "$vars" = /* ]] || vars="$PWD/$vars"
[ -z "$screendump" ] || [ ${#commands[@]} -gt 0 ] || die "--screendump needs a command"
screendump_wait_us=3000000
[ -n "$timeout_sec" ] || timeout_sec=$((60 + 60 * ${#commands[@]}))

# A fresh volume and variable store each time, so no earlier run leaks into this one; only a
# store named with --vars carries over.
esp="$out/esp"
rm -rf "$esp" "$out"/cmd-*.txt "$out/results.txt" "$out/console.log" "$out/console.txt" \
  "$out/ec.bin"
mkdir -p "$esp"
cp "$efi_dir/Panelup.efi" "$efi_dir/SimChip.efi" "$efi_dir/simctl.efi" ${files[@]+"${files[@]}"} "$esp/"
if [ -z "$vars" ]; then
  vars="$out/vars.fd"
  cp "$ovmf_vars" "$vars"
elif [ ! -f "$vars" ]; then
  mkdir -p "$(dirname "$vars")"
  cp "$ovmf_vars" "$vars"
fi

# The shell runs startup.nsh; every command is followed by a marker line carrying its exit
# status, and by one 0x00 on the EC port so ec.bin splits per command.
marker="::rig::"
{
  printf '@echo -off\r\n'
  printf 'fs0:\r\n'
  [ "$simchip" -eq 0 ] || printf 'load SimChip.efi\r\n'
  if [ "$interactive" -eq 0 ]; then
    printf 'echo %s ready %%lasterror%%\r\n' "$marker"
    n=0
    for c in "${commands[@]}"; do
      n=$((n + 1))
      printf '%s\r\n' "$c"
      if [ -n "$screendump" ] && [ "$n" -eq ${#commands[@]} ]; then
        # The screen must show the last command's output alone: its status is kept for later,
        # the EC separator tells the watcher to take the dump, and the pause gives it time to.
        printf 'set rigstatus %%lasterror%%\r\n'
        printf 'mm 66 00 -IO -w 1 -n\r\n'
        printf 'stall %d\r\n' "$screendump_wait_us"
        printf 'echo %s end %d status %%rigstatus%%\r\n' "$marker" "$n"
      else
        printf 'echo %s end %d status %%lasterror%%\r\n' "$marker" "$n"
        printf 'mm 66 00 -IO -w 1 -n\r\n'
      fi
    done
    printf 'reset -s\r\n'
  else
    printf '@echo -on\r\n'
  fi
} >"$esp/startup.nsh"

# A unix socket path must stay short; fall back to /tmp for deep build trees.
monitor="$out/monitor.sock"
[ ${#monitor} -lt 100 ] || monitor="$(mktemp -u /tmp/panelup-monitor.XXXXXX).sock"
rm -f "$monitor"

qemu=(qemu-system-x86_64 -machine q35 -accel tcg -m 256 -no-reboot -nic none
  -drive "if=pflash,format=raw,unit=0,readonly=on,file=$ovmf_code"
  -drive "if=pflash,format=raw,unit=1,file=$vars"
  -drive "file=fat:rw:$esp,format=raw"
  -device "isa-debugcon,iobase=0x66,chardev=ec" -chardev "file,id=ec,path=$out/ec.bin"
  -display none -monitor "unix:$monitor,server=on,wait=off")

if [ "$interactive" -eq 1 ]; then
  echo "UEFI Shell on this terminal; 'reset -s' powers off (Ctrl-C ends QEMU at once)."
  exec "${qemu[@]}" -serial stdio
fi

# Sends one command to the monitor (used for the screen dump).
monitor_command() {
  python3 - "$monitor" "$1" <<'EOF'
import socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall((sys.argv[2] + "\n").encode())
time.sleep(0.5)
s.close()
EOF
}

watcher=""
if [ -n "$screendump" ]; then
  (
    # The rig's EC separators count the commands done; the last one comes before the pause.
    while sleep 0.2; do
      separators=$(tr -cd '\000' <"$out/ec.bin" 2>/dev/null | wc -c)
      if [ "$separators" -ge ${#commands[@]} ]; then
        monitor_command "screendump $screendump"
        break
      fi
    done
  ) &
  watcher=$!
fi

started=$(date +%s)
boot_status=0
timeout --kill-after=5 "$timeout_sec" "${qemu[@]}" \
  -chardev "file,id=serial,path=$out/console.log" -serial chardev:serial \
  2>"$out/qemu.log" || boot_status=$?
elapsed=$(($(date +%s) - started))
[ -z "$watcher" ] || kill "$watcher" 2>/dev/null || true
rm -f "$monitor"
touch "$out/console.log" "$out/ec.bin"

# Terminal controls out (colour, cursor moves), CR out. A screen clear becomes a form feed
# first, so a command's text can start afresh where the screen was cleared.
screen_text=$(mktemp)
trap 'rm -f "$screen_text"' EXIT
sed -e 's/\x1b\[2J/\f/g' -e 's/\x1b\[[0-9;?=]*[A-Za-z]//g' -e 's/\x1b[()][0-9A-Za-z]//g' \
  -e 's/\r//g' "$out/console.log" >"$screen_text"
tr -d '\f' <"$screen_text" >"$out/console.txt"

# Console text per command: from the previous marker to this command's end marker, which may
# follow the command's last text on the same line.
statuses=()
n=0
started_commands=0
while IFS= read -r line || [ -n "$line" ]; do
  if [ "$started_commands" -eq 0 ]; then
    if [[ "$line" =~ "$marker ready "(0x[0-9A-Fa-f]+) ]]; then
      started_commands=1
      [ "$simchip" -eq 0 ] || [ "${BASH_REMATCH[1]}" = 0x0 ] ||
        echo "run-emulator: load SimChip.efi failed with status ${BASH_REMATCH[1]}" >&2
      n=1
      : >"$out/cmd-1.txt"
    fi
    continue
  fi
  if [[ "$line" == *$'\f'* ]]; then
    line=${line##*$'\f'}
    [ "$n" -gt ${#commands[@]} ] || : >"$out/cmd-$n.txt"
  fi
  if [[ "$line" =~ ^(.*)"$marker end "([0-9]+)" status "(0x[0-9A-Fa-f]+) ]]; then
    [ -z "${BASH_REMATCH[1]}" ] || printf '%s\n' "${BASH_REMATCH[1]}" >>"$out/cmd-$n.txt"
    statuses[BASH_REMATCH[2]]=${BASH_REMATCH[3]}
    n=$((BASH_REMATCH[2] + 1))
    [ "$n" -gt ${#commands[@]} ] || : >"$out/cmd-$n.txt"
    continue
  fi
  [ "$n" -gt ${#commands[@]} ] || printf '%s\n' "$line" >>"$out/cmd-$n.txt"
done <"$screen_text"

# EC bytes per command: the rig's 0x00 after each command closes that command's group.
ec_groups=()
group=""
for byte in $(od -An -v -tx1 "$out/ec.bin" | tr 'a-f' 'A-F'); do
  if [ "$byte" = "00" ]; then
    ec_groups+=("${group# }")
    group=""
  else
    group="$group $byte"
  fi
done

complete=1
for i in "${!commands[@]}"; do
  k=$((i + 1))
  status=${statuses[$k]:-none}
  [ "$status" != none ] || complete=0
  {
    echo "CMD ${commands[$i]}"
    echo "STATUS $status"
    echo "EC ${ec_groups[$i]:-}"
  } >>"$out/results.txt"
  [ -f "$out/cmd-$k.txt" ] || : >"$out/cmd-$k.txt"
done
touch "$out/results.txt"

if [ "$show" -eq 1 ]; then
  for i in "${!commands[@]}"; do
    k=$((i + 1))
    echo "Shell> ${commands[$i]}"
    # The progress line rewrites itself in place on the screen: show its last value only.
    sed 's/ VTQ_002E /\n VTQ_002E /g' "$out/cmd-$k.txt" |
      awk '/VTQ_002E/ { last = $0; next } last != "" { print last; last = "" } { print }
           END { if (last != "") print last }'
    echo "[exit status ${statuses[$k]:-none}]"
  done
fi

if [ "$boot_status" -ne 0 ] || [ "$started_commands" -eq 0 ] || [ "$complete" -eq 0 ]; then
  echo "run-emulator: the boot ended early after ${elapsed}s (qemu status $boot_status);" \
    "see $out/console.txt and $out/qemu.log" >&2
  exit 1
fi
echo "run-emulator: ${#commands[@]} command(s) in ${elapsed}s; results in $out" >&2
