#!/usr/bin/env bash
# A real Ansible rollout over two emulated machines: ansible-playbook panelup.fleet.rollout from
# the tree's collection, over SSH, against two QEMU + OVMF machines whose Linux
# (make-fleet-disk.sh) runs the Debian package's panelupctl, with SimChip.efi as the chip and
# i2c-stub as the bridge. Both panels are CID 2 PID 6; the catalogue's target is 02.06.19.
#   rollouts  machine 1's chip is new (02.06.12), machine 2's already runs 02.06.19. Rollout 1:
#             machine 1 is updated (power-cycle: the machine goes off, the rig switches it on in
#             the wake alarm's place) and passes, machine 2 is left alone. Rollout 2 on the same
#             machines changes nothing.
#   canary    new disks and variable stores; machine 1's bus fails from transfer 12000 on (the
#             firmware write), machine 2 is new. Rollout 3: the canary batch (machine 1) fails,
#             the rollout stops before machine 2's batch, whose panel stays as it was.
# Each machine runs under a supervisor that starts QEMU again whenever the machine powers itself
# off, until the test ends; everything the rig started is stopped on exit.
#
#   fleet_test.sh EFI_DIR DEB COLLECTIONS OUT_DIR CACHE_DIR rollouts|canary
#   COLLECTIONS is the folder holding the collection (os/ansible: panelup/fleet in it).
set -euo pipefail
usage="usage: fleet_test.sh EFI_DIR DEB COLLECTIONS OUT_DIR CACHE_DIR rollouts|canary"
[ $# -eq 6 ] || { echo "$usage" >&2; exit 2; }
efi_dir=$1
deb=$2
collections=$(cd "$3" && pwd)
out=$4
cache=$5
scenario=$6
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
for tool in qemu-system-x86_64 ansible-playbook ssh ssh-keygen python3; do
  command -v "$tool" >/dev/null 2>&1 || { echo "fleet: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
case $scenario in
rollouts) words=("keep" "keep version 2.6.19") ;;
canary) words=("keep bus-fail-from 12000" "keep") ;;
*) echo "$usage" >&2; exit 2 ;;
esac
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
# shellcheck source=tests/emulator/checks.sh
. "$repo/tests/emulator/checks.sh"

started=$(date +%s)
ssh-keygen -q -t ed25519 -N '' -C fleet-rig -f "$out/key"
"$repo/scripts/make-fleet-disk.sh" --cache "$cache" --authorized-keys "$out/key.pub" \
  "$efi_dir" "$deb" "$out/m1.img" "${words[0]}" "$out/m2.img" "${words[1]}"
built=$(date +%s)

# A port nobody listens on, for QEMU's forward to the guest's sshd.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# supervise N PORT: machine N until the test ends. Each QEMU process appends its serial console
# to mN.log and its EC port bytes to mN-ec.bin, and leaves a line in mN.runs (start time, then
# its end: off when the machine powered itself off). The firmware's setup menu, which waits for
# a key nobody presses, ends the machine for good. The first power-on, on the new variable
# store, has no network card: OVMF would try PXE and HTTP boot on it (minutes of timeouts) before
# the shell that starts Linux; that Linux plants its boot options and powers off.
supervise() {
  local n=$1 port=$2 pid status net=(-nic none)
  while [ ! -e "$out/stop" ]; do
    printf '%s start' "$(date +%s)" >>"$out/m$n.runs"
    qemu-system-x86_64 -machine q35 -smp 1 -accel tcg -m 1024 -display none -monitor none \
      -drive "if=pflash,format=raw,unit=0,readonly=on,file=/usr/share/OVMF/OVMF_CODE_4M.fd" \
      -drive "if=pflash,format=raw,unit=1,file=$out/m$n-vars.fd" \
      -drive "if=virtio,format=raw,file=$out/m$n.img" \
      "${net[@]}" -device virtio-rng-pci \
      -device isa-debugcon,iobase=0x66,chardev=ec -chardev "file,id=ec,path=$out/m$n-ec.bin,append=on" \
      -chardev "file,id=serial,path=$out/m$n.log,append=on" -serial chardev:serial &
    pid=$!
    echo "$pid" >"$out/m$n.qemu"
    net=(-netdev "user,id=net,hostfwd=tcp:127.0.0.1:$port-:22" -device "virtio-net-pci,netdev=net,romfile=")
    while kill -0 "$pid" 2>/dev/null; do
      if grep -aq 'starting Boot[0-9A-F]\{4\} "UiApp"' "$out/m$n.log"; then
        echo "machine $n: the firmware opened its menu and waits for a key: stopped"
        touch "$out/m$n.menu"
        kill "$pid" 2>/dev/null || true
      fi
      sleep 1
    done
    status=0
    wait "$pid" || status=$?
    if [ "$status" -eq 0 ] && [ ! -e "$out/stop" ]; then
      echo " off $(date +%s)" >>"$out/m$n.runs"
    else
      echo " stopped $(date +%s) (QEMU status $status)" >>"$out/m$n.runs"
      break
    fi
    [ ! -e "$out/m$n.menu" ] || break
  done
}

supervisors=()
playbook=""
stop_all() {
  local n pid
  touch "$out/stop"
  [ -z "$playbook" ] || kill "$playbook" 2>/dev/null || true
  for n in 1 2; do
    pid=$(cat "$out/m$n.qemu" 2>/dev/null) || continue
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${supervisors[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_all EXIT

ports=()
for n in 1 2; do
  cp /usr/share/OVMF/OVMF_VARS_4M.fd "$out/m$n-vars.fd"
  : >"$out/m$n-ec.bin"
  ports[n]=$(free_port)
  supervise "$n" "${ports[n]}" >"$out/m$n.supervisor.log" 2>&1 &
  supervisors+=($!)
done

ssh_to() { # machine, command...
  local n=$1
  shift
  ssh -q -i "$out/key" -p "${ports[n]}" -o BatchMode=yes -o ConnectTimeout=10 \
    -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null root@127.0.0.1 "$@"
}
# The first boot plants the boot options and powers off; the second starts sshd.
for n in 1 2; do
  for _ in $(seq 1 60); do
    ! ssh_to "$n" true 2>/dev/null || break
    [ ! -e "$out/m$n.menu" ] || break
    sleep 5
  done
done
up=$(date +%s)

cat >"$out/inventory.yml" <<EOF
panelup:
  hosts:
    m1: {ansible_port: ${ports[1]}}
    m2: {ansible_port: ${ports[2]}}
  vars:
    ansible_host: 127.0.0.1
    ansible_user: root
    ansible_ssh_private_key_file: $out/key
    ansible_python_interpreter: /usr/bin/python3
    panelup_test_images: true
    panelup_adapter: SMBus stub driver
    panelup_then: power-cycle
    panelup_reboot_command: /sbin/reboot
    panelup_reboot_timeout: 300
EOF
mkdir -p "$out/collections/ansible_collections/panelup" "$out/cp"
ln -s "$collections/panelup/fleet" "$out/collections/ansible_collections/panelup/fleet"
cat >"$out/ansible.cfg" <<EOF
[defaults]
inventory = $out/inventory.yml
collections_path = $out/collections
callbacks_enabled = panelup.fleet.fleet_report
host_key_checking = False
forks = 2
timeout = 30
[ssh_connection]
pipelining = True
control_path_dir = $out/cp
ssh_args = -o ControlMaster=auto -o ControlPersist=60s -o UserKnownHostsFile=/dev/null -o ServerAliveInterval=10
EOF

# rollout N: ansible-playbook panelup.fleet.rollout, its report in report-N/; rollout-N.log, and
# rc[N] its exit status, t[N] its seconds.
declare -A rc t
rollout() {
  local n=$1 begin
  begin=$(date +%s)
  rc[$n]=0
  # In the background, so that the trap can stop it.
  (cd "$out" && ANSIBLE_CONFIG=$out/ansible.cfg ANSIBLE_NOCOLOR=1 exec timeout 480 \
    ansible-playbook ${PANELUP_FLEET_VERBOSE:+-vvv} panelup.fleet.rollout -e panelup_become=false \
    -e "panelup_report_dir=$out/report-$n") >"$out/rollout-$n.log" 2>&1 &
  playbook=$!
  wait "$playbook" || rc[$n]=$?
  playbook=""
  t[$n]=$(($(date +%s) - begin))
  echo "---- rollout $n: exit ${rc[$n]} in ${t[$n]} s"
  grep -E '^(TASK|PLAY|fatal|failed|ok|changed|skipping|m[12] )|Panelup fleet' "$out/rollout-$n.log" |
    grep -v '^skipping' | cut -c1-200 || true
}
# report N FIELD...: the report's rows, one line per host: host, then each field's value.
report() {
  local n=$1
  shift
  python3 - "$out/report-$n" "$@" <<'EOF'
import glob, json, sys
files = sorted(glob.glob(sys.argv[1] + '/panelup-fleet-*.json'))
document = json.load(open(files[-1])) if files else {'hosts': []}
for row in document['hosts']:
    print(' '.join([row['host']] + [str(row.get(field)) for field in sys.argv[2:]]))
EOF
}
summary() { sed -n 's/^Panelup fleet: //p' "$out/rollout-$1.log" | tail -n 1; }
row_is() { [ "$(report "$1" result version_before version_after | grep "^$2 ")" = "$2 $3" ]; }
# The machine's QEMU runs so far that ended with the machine off by itself.
offs() { echo $(($(grep -c ' off ' "$out/m$1.runs") - 1)); } # the first boot's left out
ec_is() { [ "$(od -An -v -tx1 "$out/m$1-ec.bin" | tr 'a-f' 'A-F' | xargs)" = "$2" ]; }
# The machine's panel as the rollout found it: an update available, nothing scheduled.
untouched() {
  ssh_to "$1" panelupctl inventory --json --adapter "'SMBus stub driver'" |
    grep -q '"result":"update-available"' && ! ssh_to "$1" test -e /var/lib/panelup/scheduled
}
offs_are() { [ "$(offs 1)" -eq "$1" ] && [ "$(offs 2)" -eq "$2" ]; }
unchanged() { grep -Eq "^$2 +: ok=[0-9]+ +changed=0 " "$out/rollout-$1.log"; }

check "both machines answer over SSH after their first boots (in $((up - built)) s)" \
  eval 'ssh_to 1 true && ssh_to 2 true'
if [ "$scenario" = rollouts ]; then
  rollout 1
  check "rollout 1: ansible-playbook exit 0" test "${rc[1]}" -eq 0
  check "rollout 1: machine 1 updated, 02.06.12 to 02.06.19 after the power cycle" \
    row_is 1 m1 "updated 02.06.12 02.06.19"
  check "rollout 1: machine 2 left alone, already current" row_is 1 m2 "current 02.06.19 02.06.19"
  check "rollout 1: the summary says one updated, one current" \
    test "$(summary 1)" = "1 updated, 1 already current, 0 failed, 0 unreachable"
  check "rollout 1: machine 1 powered itself off once and the rig switched it on; machine 2 never" \
    offs_are 1 0
  check "rollout 1: machine 1's update passed (EC 8B 8A), machine 2 ran none" \
    eval 'ec_is 1 "8B 8A" && ec_is 2 ""'
  rollout 2
  check "rollout 2: ansible-playbook exit 0, nothing changed" \
    eval "test ${rc[2]} -eq 0 && unchanged 2 m1 && unchanged 2 m2"
  check "rollout 2: both machines current at 02.06.19" \
    eval 'row_is 2 m1 "current 02.06.19 02.06.19" && row_is 2 m2 "current 02.06.19 02.06.19"'
  check "rollout 2: the summary says none updated, two current" \
    test "$(summary 2)" = "0 updated, 2 already current, 0 failed, 0 unreachable"
  check "rollout 2: no machine went off, no update ran" \
    eval 'offs_are 1 0 && ec_is 1 "8B 8A" && ec_is 2 ""'
else
  rollout 3
  check "rollout 3: ansible-playbook fails (exit 2)" test "${rc[3]:-}" = 2
  check "rollout 3: machine 1 (the canary) failed, still at 02.06.12" \
    row_is 3 m1 "failed 02.06.12 02.06.12"
  check "rollout 3: machine 2 not reached" \
    row_is 3 m2 "not-reached None None"
  check "rollout 3: the summary says one failed, one not reached" \
    test "$(summary 3)" = "0 updated, 0 already current, 1 failed, 0 unreachable, 1 not reached"
  check "rollout 3: machine 1's update failed (EC 8B 8C), machine 2 ran none" \
    eval 'ec_is 1 "8B 8C" && ec_is 2 ""'
  check "rollout 3: machine 2's panel untouched: update available, nothing scheduled" \
    untouched 2
fi

for n in 1 2 3; do
  [ -d "$out/report-$n" ] || continue
  echo "---- rollout $n's report ($(summary "$n"))"
  cat "$out/report-$n"/*.json "$out/report-$n"/*.csv
done
for n in 1 2; do echo "machine $n's QEMU runs: $(tr '\n' ';' <"$out/m$n.runs")"; done
echo "disks built in $((built - started)) s, machines up in $((up - built)) s;" \
  "$(for n in 1 2 3; do [ -z "${t[$n]:-}" ] || printf 'rollout %s in %s s; ' "$n" "${t[$n]}"; done)"
echo "$failures failed"
[ "$failures" -eq 0 ]
