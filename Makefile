# Set-up, build, emulator runs and tests. Every target installs what it needs first.
BUILD ?= build
ARGS ?= /s
CMAKE_ARGS ?=

.PHONY: all deps configure build run shell test

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$$(nproc)

# Boots the emulator with the simulated chip and runs Panelup.efi $(ARGS) there.
run: build
	@scripts/run-emulator.sh --efi-dir $(BUILD)/firmware --show -- "Panelup.efi $(ARGS)"

# An interactive UEFI Shell in the emulator, with the three images on fs0:.
shell: build
	@scripts/run-emulator.sh --efi-dir $(BUILD)/firmware --interactive

test: build
	@ctest --test-dir $(BUILD) --output-on-failure
