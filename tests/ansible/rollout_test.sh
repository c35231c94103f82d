#!/usr/bin/env bash
# The rollout playbook, the panel module and the fleet_report callback in one run on this
# machine (-c local, the reboot left out) against fake-panelupctl.sh, six hosts in the batches
# 1, 3, 1, rest: the canary updated with power-cycle; an update that waits for the power-off, a
# current panel and a host ssh cannot reach; a refused inventory, which stops the rollout
# (max_fail_percentage 0); a host not reached. Then the module's check mode, which must not schedule, and state=absent.
#   rollout_test.sh COLLECTION WORK    (COLLECTION: os/ansible/panelup/fleet)
set -uo pipefail
export PATH=/usr/bin:$PATH # Debian's Python and ansible-core before any other

collection=$(cd "$1" && pwd)
work=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work/collections/ansible_collections/panelup" "$work/fake"
ln -s "$collection" "$work/collections/ansible_collections/panelup/fleet"
for panel in update-power update-reboot current refused current-late update-check; do
  mkdir -p "$work/fake/$panel"
  ln -s "$here/fake-panelupctl.sh" "$work/fake/$panel/panelupctl"
done
cat >"$work/inventory" <<EOF
[panelup]
h1 panelup_panelupctl=$work/fake/update-power/panelupctl panelup_then=power-cycle
h2 panelup_panelupctl=$work/fake/update-reboot/panelupctl
h3 panelup_panelupctl=$work/fake/current/panelupctl
h6 ansible_connection=ssh ansible_host=127.0.0.1 ansible_port=1
h4 panelup_panelupctl=$work/fake/refused/panelupctl
h5 panelup_panelupctl=$work/fake/current-late/panelupctl
[panelup:vars]
ansible_connection=local
ansible_ssh_common_args='-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null'
ansible_python_interpreter=/usr/bin/python3
EOF
export ANSIBLE_COLLECTIONS_PATH=$work/collections ANSIBLE_CALLBACKS_ENABLED=panelup.fleet.fleet_report
export ANSIBLE_NOCOLOR=1 ANSIBLE_HOME=$work/ansible-home
unset PANELUP_REPORT_DIR

failures=0
check() { # description command...
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    failures=$((failures + 1))
    echo "FAIL: $what"
  fi
}

cd "$work" || exit 1
ansible-playbook panelup.fleet.rollout -i inventory -e "panelup_report_dir=$work/report" \
  -e '{"panelup_serial": [1, 3, 1, "100%"], "panelup_skip_reboot": true, "panelup_become": false}' \
  >playbook.log 2>&1
status=$?
check "ansible-playbook fails the rollout for the refused host (exit status $status)" test "$status" -eq 2

summary="2 updated (1 waits for a power-off), 1 already current, 1 failed, 1 unreachable, 1 not reached"
check "the callback prints the summary line" grep -qxF "Panelup fleet: $summary" playbook.log

sort fake/calls.log >calls.sorted
cat >calls.expected <<'EOF'
current: inventory --json
refused: inventory --json
update-power: inventory --json
update-power: schedule --json --then power-cycle --attempts 3
update-power: status --json
update-reboot: inventory --json
update-reboot: schedule --json --then reboot --attempts 3
update-reboot: status --json
EOF
check "panelupctl calls: inventory everywhere reached, schedule and status only where an update is available" \
  diff calls.expected calls.sorted

rows_check() {
  /usr/bin/python3 - "$work/report" "$summary" <<'EOF'
import csv, glob, json, sys
folder, summary = sys.argv[1:3]
[report] = glob.glob(folder + '/panelup-fleet-*.json')
document = json.load(open(report))
rows = dict((row['host'], row) for row in document['hosts'])
failed = []
def expect(what, got, wanted):
    if got != wanted:
        failed.append('%s: %r, not %r' % (what, got, wanted))
expect('summary', document['summary'], summary)
expect('hosts', [row['host'] for row in document['hosts']], ['h1', 'h2', 'h3', 'h6', 'h4', 'h5'])
expect('h1', rows['h1'], {
    'host': 'h1', 'cid': 2, 'pid': 6, 'model': 'LP140WF6', 'then': 'power-cycle',
    'version_before': '02.06.12', 'version_target': '02.06.19', 'version_after': '02.06.19',
    'result': 'updated', 'reason': 'runs 02.06.19 after the power cycle', 'attempts': 1,
    'build': '1.0.0+g0123456789ab', 'time': '2026-12-10T15:40:00'})
expect('h2', (rows['h2']['result'], rows['h2']['then'], rows['h2']['version_after']),
       ('updated-waits-for-power-off', 'reboot', '02.06.12'))
expect('h3', (rows['h3']['result'], rows['h3']['version_before'], rows['h3']['version_after']),
       ('current', '02.06.19', '02.06.19'))
expect('h4', (rows['h4']['result'], rows['h4']['reason']),
       ('failed', 'inventory reads the bridge over the SMBus: run it as root'))
expect('h5', (rows['h5']['result'], rows['h5']['cid']), ('not-reached', None))
expect('h6', (rows['h6']['result'], 'ssh' in rows['h6']['reason']), ('unreachable', True))
table = list(csv.DictReader(open(report[:-len('.json')] + '.csv')))
expect('csv hosts', [(row['host'], row['result']) for row in table],
       [(row['host'], row['result']) for row in document['hosts']])
expect('csv h1 cid and attempts', (table[0]['cid'], table[0]['attempts']), ('2', '1'))
expect('csv null', table[5]['cid'], '')
for line in failed:
    print('  ' + line)
sys.exit(1 if failed else 0)
EOF
}
check "the report: a JSON and a CSV row per host, and the summary line" rows_check

# The module on this machine, one line per run: panel [--check] ARGS
panel() {
  local options=()
  if [ "$1" = --check ]; then
    options=(--check)
    shift
  fi
  ansible localhost -i localhost, -c local -e ansible_python_interpreter=/usr/bin/python3 -o \
    "${options[@]}" -m panelup.fleet.panel -a "panelupctl=$work/fake/update-check/panelupctl $*" 2>&1
}

# Check mode: the verdict of inventory, changed, and nothing scheduled.
panel --check state=scheduled >check.log
check "check mode of state=scheduled: changed where an update is available" \
  grep -q '^localhost | CHANGED => ' check.log
check "check mode of state=scheduled: inventory only, never schedule" \
  test "$(grep '^update-check:' fake/calls.log)" = "update-check: inventory --json"

# state=absent after a schedule: cancel's own "changed", once.
{ panel state=scheduled && panel state=absent && panel state=absent; } >absent.log
check "state=absent: changed when it cancelled a schedule, unchanged the second time" \
  test "$(grep '^localhost ' absent.log | cut -d' ' -f3 | tr '\n' ' ')" = "CHANGED CHANGED SUCCESS "
check "state=absent runs cancel --json" \
  test "$(grep -c '^update-check: cancel --json$' fake/calls.log)" -eq 2

if [ "$failures" -ne 0 ]; then
  echo "== playbook output"
  cat playbook.log
  echo "== check mode and state=absent output"
  cat check.log absent.log
fi
echo "$failures failed"
[ "$failures" -eq 0 ]
