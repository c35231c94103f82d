#!/usr/bin/env bash
# ansible-test sanity on the panelup.fleet collection, offline, on Debian's packages.
#   sanity_test.sh COLLECTION WORK    (COLLECTION: os/ansible/panelup/fleet)
# ansible-test wants the collection under .../ansible_collections/panelup/fleet, so it runs on a
# copy in WORK. Its tests run in virtual environments it fills with pip from the network; each is
# made here beforehand, on Debian's packages (system site packages), where ansible-test looks for
# it (HOME=WORK keeps them out of the real home), and ansible-test takes a prepared one as is.
set -euo pipefail
# Debian's Python, which has Debian's ansible-core and linters, before any other on PATH.
export PATH=/usr/bin:$PATH

collection=$(cd "$1" && pwd)
work=$(realpath -m "$2")
rm -rf "$work"
copy=$work/ansible_collections/panelup/fleet
mkdir -p "$copy"
cp -r "$collection/." "$copy"
export HOME=$work/home
mkdir -p "$HOME"

# The tests with requirements of their own; the others share one empty environment.
venv_tests=(ansible-doc import import.plugin integration-aliases pep8 pylint runtime-metadata
  validate-modules yamllint)
python3 - "${venv_tests[@]}" <<'EOF'
import os
import subprocess
import sys

from ansible_test._internal.commands.sanity import hash_pip_commands
from ansible_test._internal.host_configs import NativePythonConfig
from ansible_test._internal.python_requirements import collect_requirements

python = NativePythonConfig(version='%d.%d' % sys.version_info[:2], path=sys.executable)
for name in sys.argv[1:]:
    commands = collect_requirements(python=python, controller=True, virtualenv=False, command=None,
                                    ansible=False, cryptography=False, coverage=False,
                                    minimize=name.startswith('import.'), sanity=name)
    label = 'sanity.' + name if commands else 'sanity'
    path = os.path.join(os.environ['HOME'], '.ansible/test/venv', label, python.version,
                        hash_pip_commands(commands))
    subprocess.run([sys.executable, '-m', 'venv', '--system-site-packages', '--without-pip', path],
                   check=True)
    for meta, text in (('meta.install.json', '[]'), ('meta.yaml.json', 'true'), ('marker.txt', '')):
        with open(os.path.join(path, meta), 'w') as out:
            out.write(text + '\n')
EOF

# ansible-test lists a collection's files with git where it finds a repository above it: inside
# the tree's build folder, which git ignores, it would find none and skip every test. The copy is
# a repository of its own.
git -C "$work" init -q
git -C "$work" add -A

# Skipped: changelog, whose antsibull-changelog is no Debian package.
cd "$copy"
status=0
ansible-test sanity --local --python "$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')" \
  --color no --skip-test changelog 2>&1 | tee "$work/sanity.log" || status=$?
if grep -q "All targets skipped" "$work/sanity.log"; then
  echo "FAIL: ansible-test found no file of the collection to test"
  exit 1
fi
tested=$(grep -c '^Running sanity test' "$work/sanity.log")
echo "ansible-test sanity: $tested tests, exit status $status"
exit "$status"
