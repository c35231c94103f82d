#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the emulator need, when missing.
set -euo pipefail

packages=(
  clang lld cmake make g++ libgtest-dev libgmock-dev
  libclang-rt-14-dev libbenchmark-dev clang-tidy clang-format cppcheck
  qemu-system-x86 ovmf python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
