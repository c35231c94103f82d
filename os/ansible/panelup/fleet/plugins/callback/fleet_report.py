# -*- coding: utf-8 -*-
# Copyright: 2026 Panelup developers
"""The fleet report of a Panelup rollout, written when the playbook ends however it ends."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
name: fleet_report
type: aggregate
short_description: Writes the fleet report of a Panelup rollout on the controller
version_added: "1.0.0"
description:
  - Collects each host's row of the rollout (the fact C(panelup_report_row) that the
    C(panelup.fleet.update) role sets) and writes one JSON file and one CSV file with a row per host
    of the rollout's plays, and prints the summary line.
  - It writes them when the playbook ends, also when a failed batch stopped the rollout
    (C(max_fail_percentage)), which ends the playbook before any later play could write a report.
  - A host without a row is C(unreachable) when Ansible could not reach it, otherwise C(not-reached),
    since the rollout stopped before it was done. What the C(panelup.fleet.panel) module read on the way
    (the panel's variant and version, an update scheduled) fills such a row as far as it goes.
  - A play is a rollout when its vars hold C(panelup_report_dir) or a host of it got a row; other
    playbooks get no report.
author:
  - Panelup developers
requirements:
  - enabled in ansible.cfg (C(callbacks_enabled = panelup.fleet.fleet_report)) or with
    C(ANSIBLE_CALLBACKS_ENABLED=panelup.fleet.fleet_report)
options:
  report_dir:
    description:
      - The folder on the controller for the report files, made when missing.
      - An extra variable C(panelup_report_dir) (C(-e)) comes first, then this option, then the
        play's own C(panelup_report_dir) (the rollout playbook's default, C(panelup-report) in the
        folder ansible-playbook runs in).
    type: path
    env:
      - name: PANELUP_REPORT_DIR
    ini:
      - section: callback_fleet_report
        key: report_dir
'''

import csv
import io
import json
import os
import time

from ansible.module_utils.common.text.converters import to_text
from ansible.plugins.callback import CallbackBase

FIELDS = ('host', 'cid', 'pid', 'model', 'then', 'version_before', 'version_target',
          'version_after', 'result', 'reason', 'attempts', 'build', 'time')
RESULTS = ('updated', 'updated-waits-for-power-off', 'current', 'failed', 'unreachable',
           'not-reached', 'skipped')
DEFAULT_DIR = 'panelup-report'


def summary_line(rows):
    count = dict((result, 0) for result in RESULTS)
    for row in rows:
        count[row['result']] = count.get(row['result'], 0) + 1
    waits = count['updated-waits-for-power-off']
    updated = '%d updated' % (count['updated'] + waits)
    if waits:
        updated += ' (%d waits for a power-off)' % waits
    parts = [updated, '%d already current' % count['current'], '%d failed' % count['failed'],
             '%d unreachable' % count['unreachable']]
    if count['not-reached']:
        parts.append('%d not reached' % count['not-reached'])
    if count['skipped']:
        parts.append('%d skipped' % count['skipped'])
    return ', '.join(parts)


def partial_row(host, seen, unreachable):
    """The row of a host the role never finished: what the module read, and why it stopped."""
    row = dict((field, None) for field in FIELDS)
    row['host'] = host
    query = seen.get('query') or {}
    running = query.get('running') or {}
    row.update(cid=running.get('cid'), pid=running.get('pid'), version_before=running.get('version'),
               model=(query.get('catalogue') or {}).get('model'),
               version_target=(query.get('catalogue') or {}).get('version'))
    schedule = seen.get('scheduled') or {}
    if schedule.get('changed'):
        row.update(then=schedule.get('then'), version_target=schedule.get('target'))
    if host in unreachable:
        row.update(result='unreachable', reason=unreachable[host])
    elif schedule.get('changed'):
        row.update(result='not-reached',
                   reason='an update is scheduled for its next boot: the rollout stopped before '
                          'its reboot (reboot it, or cancel with state=absent)')
    else:
        row.update(result='not-reached', reason='the rollout stopped before this host was done')
    return row


def write_atomically(path, text):
    with open(path + '.new', 'w', encoding='utf-8', newline='') as out:
        out.write(text)
    os.replace(path + '.new', path)


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'aggregate'
    CALLBACK_NAME = 'panelup.fleet.fleet_report'
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self, display=None):
        super(CallbackModule, self).__init__(display=display)
        self.rows = {}
        self.seen = {}
        self.unreachable = {}
        self.plays = {}  # play uuid -> [marked, hosts in inventory order]
        self.rollouts = set()
        self.play = None
        self.play_dir = None
        self.extra_dir = None
        self.playbook = None

    def v2_playbook_on_start(self, playbook):
        self.playbook = getattr(playbook, '_file_name', None)

    def v2_playbook_on_play_start(self, play):
        # Called once per serial batch; the hosts are the whole play's, not the batch's.
        self.play = play._uuid
        if self.play in self.plays:
            return
        manager = play.get_variable_manager()
        names = []
        try:
            hosts = manager._inventory.get_hosts(play.hosts, ignore_restrictions=True)
            names = [host.get_name() for host in hosts]
        except Exception as e:  # pylint: disable=broad-except
            self._display.warning('fleet_report: cannot list the hosts of play %s: %s'
                                  % (play.get_name(), to_text(e)))
        play_vars = play.get_vars()
        marked = 'panelup_report_dir' in play_vars
        self.plays[self.play] = [marked, names]
        if marked:
            self.rollouts.add(self.play)
            self.play_dir = self.play_dir or play_vars['panelup_report_dir']
            self.extra_dir = manager.extra_vars.get('panelup_report_dir', self.extra_dir)

    def remember(self, result):
        host = result._host.get_name()
        values = result._result
        facts = values.get('ansible_facts') or {}
        if 'panelup_report_row' in facts:
            row = dict((field, None) for field in FIELDS)
            row.update(facts['panelup_report_row'])
            row['host'] = host
            self.rows[host] = row
            if self.play is not None:
                self.rollouts.add(self.play)
        if values.get('state') in ('query', 'scheduled', 'absent', 'result') and \
                isinstance(values.get('panel'), dict):
            self.seen.setdefault(host, {})[values['state']] = dict(values['panel'],
                                                                   changed=values.get('changed'))

    def v2_runner_on_ok(self, result):
        self.remember(result)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self.remember(result)

    def v2_runner_on_unreachable(self, result):
        self.unreachable[result._host.get_name()] = to_text(result._result.get('msg', 'unreachable'))

    def report_dir(self):
        for candidate in (self.extra_dir, self.get_option('report_dir'), self.play_dir):
            if candidate:
                return os.path.abspath(os.path.expanduser(to_text(candidate)))
        return os.path.abspath(DEFAULT_DIR)

    def v2_playbook_on_stats(self, stats):
        if not self.rollouts:
            return
        hosts = []
        for uuid in self.rollouts:
            hosts.extend(name for name in self.plays.get(uuid, [False, []])[1] if name not in hosts)
        hosts.extend(name for name in self.rows if name not in hosts)
        for host, summary in stats.processed.items():
            if host in hosts and stats.dark.get(host) and host not in self.unreachable:
                self.unreachable[host] = 'unreachable'
        rows = [self.rows.get(host) or partial_row(host, self.seen.get(host, {}), self.unreachable)
                for host in hosts]
        line = summary_line(rows)

        folder = self.report_dir()
        stamp = time.strftime('%Y%m%dT%H%M%SZ', time.gmtime())
        base = os.path.join(folder, 'panelup-fleet-%s' % stamp)
        document = dict(playbook=self.playbook, generated=stamp, summary=line, hosts=rows)
        csv_text = io.StringIO()
        writer = csv.DictWriter(csv_text, fieldnames=FIELDS, lineterminator='\n')
        writer.writeheader()
        for row in rows:
            writer.writerow(dict((field, '' if row.get(field) is None else row.get(field))
                                 for field in FIELDS))
        try:
            os.makedirs(folder, exist_ok=True)
            write_atomically(base + '.json', json.dumps(document, indent=1, sort_keys=False) + '\n')
            write_atomically(base + '.csv', csv_text.getvalue())
        except (IOError, OSError) as e:
            self._display.error('fleet_report: cannot write the report in %s: %s' % (folder, to_text(e)))
        else:
            self._display.display('Panelup fleet report: %s.json and .csv' % base)
        self._display.display('Panelup fleet: %s' % line)
