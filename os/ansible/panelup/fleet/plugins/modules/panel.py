#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Panelup developers
"""The panel's bridge firmware through panelupctl's JSON objects."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: panel
short_description: Read, schedule, cancel and collect Panelup updates of a panel's bridge firmware
version_added: "1.0.0"
description:
  - Wraps C(panelupctl), the Linux side of Panelup, which runs a C(Panelup.efi) update of the
    display bridge behind the machine's LCD panel at the next boot and reads its result once
    Linux is back.
  - Every state runs one C(panelupctl) command with C(--json) and reads the one JSON object it
    prints; the text output is never parsed.
  - I(state=query) reads what the panel runs and the catalogue's verdict (C(panelupctl inventory
    --json)) and never changes anything.
  - I(state=scheduled) schedules an update for the next boot only where one is available
    (C(panelupctl schedule --json) without a CID/PID pair, so the tool takes the panel's own pair and
    leaves a current panel alone). The machine must then be rebooted, which this module never does.
  - I(state=absent) cancels a scheduled update (C(panelupctl cancel --json)).
  - I(state=result) reads the last update's result (C(panelupctl status --json)).
author:
  - Panelup developers
options:
  state:
    description:
      - What to do; see the description.
    type: str
    choices: [query, scheduled, absent, result]
    default: query
  then:
    description:
      - What C(Panelup.efi) does after the update (I(state=scheduled)). C(reboot) restarts the
        machine, and the panel keeps its old firmware running until its next power-off.
        C(power-cycle) switches the machine off and sets the firmware's wake alarm, so the panel
        runs its new firmware at once; where the firmware refuses the alarm the tool restarts it.
    type: str
    choices: [reboot, power-cycle]
    default: reboot
  attempts:
    description:
      - Updates the tool tries before it gives up (I(state=scheduled)), 1 to 9; C(panelupctl)'s own
        default (3) when not given.
    type: int
  adapter:
    description:
      - The i2c adapter of the bus the bridge is on, by its name (or the start of it) or its number.
        C(panelupctl)'s default, the chipset's SMBus controller, when not given.
      - Passed to C(inventory), C(schedule) and C(status).
    type: str
  reflash:
    description:
      - Schedule the catalogue's image even when the panel runs it already (I(state=scheduled)).
    type: bool
    default: false
  test_images:
    description:
      - Stage a build whose images are test patterns (I(state=scheduled)), the emulator rig's
        test build. On a real machine such a build changes nothing and ends with exit status 254.
    type: bool
    default: false
  panelupctl:
    description:
      - The C(panelupctl) program. A name without a slash is looked up in C(PATH) and the sbin
        folders.
    type: str
    default: panelupctl
notes:
  - Runs as root on the machine (C(become)); C(panelupctl) refuses C(schedule), C(cancel) and
    C(inventory) otherwise.
  - Check mode of I(state=scheduled) runs C(inventory --json) and reports C(changed) exactly when
    the verdict is C(update-available) (or C(current) with I(reflash)), without scheduling.
  - Check mode of I(state=absent) runs C(status --json --keep) and reports C(changed) when its
    C(scheduled) field is true. As root, C(status) tidies up what a finished run left behind
    (its boot entry and staged image; C(--keep) keeps the image); a pending schedule it never
    touches.
  - I(state=result) fails unless the last update passed (exit status 0), and always returns the
    whole object.
  - The manual page panelupctl(8) (C(man panelupctl)) describes every object it prints.
requirements:
  - panelupctl (the panelup Debian package)
attributes:
  check_mode:
    support: full
    description: See the notes for what I(state=scheduled) and I(state=absent) read in check mode.
  diff_mode:
    support: none
    description: Nothing to show as a diff.
'''

EXAMPLES = r'''
- name: Read what the panel runs and whether an update is available
  panelup.fleet.panel:
  register: panel

- name: Schedule an update for the next boot where one is available, powering off after it
  panelup.fleet.panel:
    state: scheduled
    then: power-cycle
    attempts: 5

- name: Cancel a scheduled update
  panelup.fleet.panel:
    state: absent

- name: Read the last update's result; fails unless it passed
  panelup.fleet.panel:
    state: result
  register: outcome
'''

RETURN = r'''
panel:
  description:
    - The one JSON object C(panelupctl) printed, whole (see panelupctl(8), JSON OBJECTS).
    - For I(state=scheduled) in check mode, and I(state=absent) in check mode, the object of the
      command it read instead (C(inventory) or C(status)).
  returned: always
  type: dict
  sample:
    result: update-available
    adapter: {number: 1, name: SMBus I801 adapter at f000}
    bridge: true
    chip_id: "0x1605"
    running: {cid: 2, pid: 6, txx: 12, version: "02.06.12"}
    catalogue: {version: "02.06.19", model: "..."}
    image: /usr/lib/panelup/Panelup.efi
    cmos: {version: "02.06.12", status: "0xFF"}
    transfers: 11
state:
  description: The state the module ran for.
  returned: always
  type: str
  sample: query
rc:
  description: C(panelupctl)'s exit status; for I(state=result) the update's own.
  returned: always
  type: int
  sample: 0
stderr:
  description: What C(panelupctl) said on standard error (its messages).
  returned: always
  type: str
  sample: ""
cmd:
  description: The command line the module ran.
  returned: always
  type: list
  elements: str
  sample: [/usr/sbin/panelupctl, inventory, --json]
ansible_facts:
  description: For I(state=query), the inventory object as C(ansible_facts.panelup).
  returned: when I(state=query)
  type: dict
  contains:
    panelup:
      description: The object of C(panelupctl inventory --json).
      type: dict
      returned: when I(state=query)
'''

import json

from ansible.module_utils.basic import AnsibleModule

# inventory's exit status without a bridge: a verdict about this machine, not a failure to read.
NO_BRIDGE = 6


def panelupctl_path(module):
    program = module.params['panelupctl']
    if '/' in program:
        return program
    # panelupctl lives in /usr/sbin, which a login's PATH may lack; get_bin_path looks there too.
    return module.get_bin_path(program, required=True)


def run(module, program, args):
    """Runs panelupctl and returns (rc, object, stderr, cmd); a run without one object fails."""
    cmd = [program] + args
    rc, out, err = module.run_command(cmd)
    lines = [line for line in out.splitlines() if line.strip()]
    found = None
    if len(lines) == 1:
        try:
            found = json.loads(lines[0])
        except ValueError:
            found = None
    if not isinstance(found, dict):
        module.fail_json(msg='%s printed no JSON object (exit status %d)' % (' '.join(cmd), rc),
                         rc=rc, stdout=out, stderr=err, cmd=cmd, state=module.params['state'])
    return rc, found, err, cmd


def adapter_args(module):
    adapter = module.params['adapter']
    return ['--adapter', adapter] if adapter else []


def schedule_args(module):
    args = ['schedule', '--json', '--then', module.params['then']]
    if module.params['attempts'] is not None:
        args += ['--attempts', str(module.params['attempts'])]
    if module.params['reflash']:
        args.append('--reflash')
    if module.params['test_images']:
        args.append('--test-images')
    return args + adapter_args(module)


def reason_of(panel, rc, command):
    if panel.get('reason'):
        return panel['reason']
    return 'panelupctl %s: %s (exit status %d)' % (command, panel.get('result', 'no result'), rc)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            state=dict(type='str', default='query', choices=['query', 'scheduled', 'absent', 'result']),
            then=dict(type='str', default='reboot', choices=['reboot', 'power-cycle']),
            attempts=dict(type='int'),
            adapter=dict(type='str'),
            reflash=dict(type='bool', default=False),
            test_images=dict(type='bool', default=False),
            panelupctl=dict(type='str', default='panelupctl'),
        ),
        supports_check_mode=True,
    )
    state = module.params['state']
    attempts = module.params['attempts']
    if attempts is not None and not 1 <= attempts <= 9:
        module.fail_json(msg='attempts must be 1 to 9, not %d' % attempts, state=state)
    program = panelupctl_path(module)

    if state == 'query' or (state == 'scheduled' and module.check_mode):
        command = 'inventory'
        rc, panel, err, cmd = run(module, program, ['inventory', '--json'] + adapter_args(module))
        ok = rc == 0 or (rc == NO_BRIDGE and state == 'query')
        verdict = panel.get('result')
        changed = state == 'scheduled' and rc == 0 and (
            verdict == 'update-available' or (verdict == 'current' and module.params['reflash']))
    elif state == 'scheduled':
        command = 'schedule'
        rc, panel, err, cmd = run(module, program, schedule_args(module))
        ok = rc == 0
        changed = ok and panel.get('changed') is True
    elif state == 'absent' and module.check_mode:
        command = 'status'
        rc, panel, err, cmd = run(module, program, ['status', '--json', '--keep'])
        # status exits with the last update's own status; only its refusals and usage errors fail.
        ok = panel.get('result') not in ('refused', 'usage-error')
        changed = panel.get('scheduled') is True
    elif state == 'absent':
        command = 'cancel'
        rc, panel, err, cmd = run(module, program, ['cancel', '--json'])
        ok = rc == 0
        changed = ok and panel.get('changed') is True
    else:
        command = 'status'
        rc, panel, err, cmd = run(module, program, ['status', '--json'] + adapter_args(module))
        ok = rc == 0
        changed = False

    result = dict(changed=changed, panel=panel, state=state, rc=rc, stderr=err, cmd=cmd)
    if state == 'query':
        result['ansible_facts'] = dict(panelup=panel)
    if not ok:
        module.fail_json(msg=reason_of(panel, rc, command), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
