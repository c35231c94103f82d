#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the emulator, the recovery stick and the
# Debian package need, when missing. Plain bash and dpkg only, so it runs on a bare Debian before
# make exists. The Linux tier's initramfs takes busybox, bash, efibootmgr and panelupctl's libraries from here; its
# kernel package is only downloaded (scripts/make-linux-disk.sh). The Ansible collection's build and
# ansible-test sanity take ansible-core, the linters its tests call and git (it lists the files to
# test with git) from here; the rollout test's unreachable host, ssh.
set -euo pipefail

packages=(
  clang lld llvm cmake make g++ libgtest-dev libgmock-dev
  libclang-rt-14-dev clang-tidy clang-format cppcheck shellcheck
  qemu-system-x86 ovmf python3 mtools dosfstools
  cpio busybox-static efibootmgr fdisk
  build-essential debhelper bash-completion lintian debootstrap man-db
  pkgconf libefivar-dev libefiboot-dev libblkid-dev libmount-dev nlohmann-json3-dev
  ansible-core yamllint pylint python3-voluptuous python3-pycodestyle python3-venv git
  openssh-client # the fleet tier's ssh and keys; the guests' sshd is only downloaded (make-fleet-disk.sh)
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "panelup: missing Debian packages; as root run: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  sudo=(sudo)
fi

echo "Installing: ${missing[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
