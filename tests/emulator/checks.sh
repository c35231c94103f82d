# shellcheck shell=bash
# Sourced by the emulator tier's scripts: each check prints ok or FAIL and counts the failures,
# so a run reports every broken expectation, not only the first.
failures=0
check() { # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else
    echo "FAIL $what"
    failures=$((failures + 1))
  fi
}
