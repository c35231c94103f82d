#!/usr/bin/env bash
# Panelup from a bare Debian 12: installs make and everything else the build needs with apt-get,
# then runs the make target.
#   ./panelup.sh run [ARGS="/g"]   build and run Panelup.efi in the emulator (make run)
#   ./panelup.sh test              build and run every test tier (make test)
#   ./panelup.sh TARGET [VAR=...]  any other make target (stick, shell, lint, ...)
set -euo pipefail
cd "$(dirname "$0")"

if [ $# -eq 0 ]; then
  sed -n '2,6s/^# \{0,1\}//p' "$0" >&2
  exit 2
fi

scripts/install-deps.sh
exec make "$@"
