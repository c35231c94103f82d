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

# The kernel's smbus trace lines on stdin (smbus_write/read/result: i2c-N a=02b ...) as the
# transfers to 0x2B in order, one word each: W<reg>=<value>, R<reg>, and "refused" for a transfer
# the bus refused.
smbus_transfers() {
  sed -n 's/^smbus_\([a-z]*\): i2c-[0-9]* a=02b f=[0-9a-f]* c=\([0-9a-f]*\) \(.*\)/\1 \2 \3/p' |
    while read -r kind reg rest; do
      case $kind in
      write) echo "W$reg=$(echo "$rest" | sed -n 's/.*\[\([0-9a-f]*\)\].*/\1/p')" ;;
      read) echo "R$reg" ;;
      result) case $rest in *res=-*) echo "refused" ;; esac ;;
      esac
    done | tr '\n' ' '
}
# What inventory sends to read the bridge: the register sequence of /s.
# shellcheck disable=SC2034 # read by the scripts that source this one
inventory_sequence="Wff=80 Wee=01 Wff=a0 R0 R1 Wff=d2 Rc Rd Re Wff=80 Wee=00 "
