# shellcheck shell=sh
# The bridge in a Linux guest of the emulator: Linux's own i2c-stub at 0x2B with banked registers
# (the bank is register 0xFF, as on the chip; 0x80 uses the plain registers), loaded with the
# registers the simulated chip holds, which SimChip.efi publishes for the guest. Sourced by the
# guests' scripts (busybox sh or bash); needs insmod, i2cset and od.

stub_bus=""

# bridge_stub_insert MODULE_DIR: i2c-stub loaded; stub_bus is its adapter's number.
bridge_stub_insert() {
  insmod "$1/i2c-stub.ko" chip_addr=0x2b bank_reg=0xff bank_mask=0x70 bank_start=0x00 \
    bank_end=0xfe || return 1
  for d in /sys/bus/i2c/devices/i2c-*; do
    [ "$(cat "$d/name")" = "SMBus stub driver" ] && stub_bus=${d##*-}
  done
  [ -n "$stub_bus" ]
}

# stub_reg BANK REGISTER VALUE
stub_reg() {
  i2cset -y "$stub_bus" 0x2b 0xff "$1" && i2cset -y "$stub_bus" 0x2b "$2" "$3"
}

# bridge_stub_set ID_HIGH ID_LOW CID PID TXX: the identity (bank 0xA0) and version (bank 0xD2)
# registers, then bank 0x80 selected, as the chip is found.
bridge_stub_set() {
  stub_reg 0xa0 0x00 "$1" && stub_reg 0xa0 0x01 "$2" && stub_reg 0xd2 0x0c "$3" &&
    stub_reg 0xd2 0x0d "$4" && stub_reg 0xd2 0x0e "$5" && i2cset -y "$stub_bus" 0x2b 0xff 0x80
}

# load_bridge_stub MODULE_DIR: the stub with the registers SimChip.efi published at this boot
# (chip id high, low, CID, PID, Txx after efivarfs's four attribute bytes); false when the
# firmware published none.
load_bridge_stub() {
  registers=/sys/firmware/efi/efivars/SimChipRegisters-620d4c8f-8abb-497b-b229-31b6de21b68c
  [ -f "$registers" ] && [ "$(wc -c <"$registers")" -eq 9 ] || return 1
  # Through a pipe: efivarfs files cannot seek, and busybox od skips by seeking (without a word
  # when that fails).
  # shellcheck disable=SC2046 # five numbers, split on purpose
  set -- "$1" $(tail -c 5 "$registers" | od -An -v -tu1)
  [ $# -eq 6 ] || return 1
  bridge_stub_insert "$1" && bridge_stub_set "$2" "$3" "$4" "$5" "$6"
}
