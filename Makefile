# Set-up, build, emulator runs and tests. Every target installs what it needs first.
BUILD ?= build
CMAKE_ARGS ?=

.PHONY: all deps configure build collection run shell stick deb test sweep fuzz lint bench screenshot

all: build

deps:
	@scripts/install-deps.sh

# A configured tree reconfigures itself when a CMake file changes; configure again only for new
# options, so a build with nothing changed stays a no-op.
configure: deps
	@if [ -n "$(CMAKE_ARGS)" ] || [ ! -f $(BUILD)/CMakeCache.txt ]; then \
	  cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null; fi

# Ends with what was built: the build id and whether its images are genuine.
build: configure
	@cmake --build $(BUILD) -j$$(nproc)
	@read -r id images < $(BUILD)/generated/build-id.txt; \
	  if [ "$$images" = genuine ]; then echo "Panelup.efi $$id: genuine images"; \
	  else echo "Panelup.efi $$id: TEST PATTERNS in place of missing images, for the emulator only"; fi

# The Ansible collection's tarball alone, $(BUILD)/ansible/panelup-fleet-VERSION.tar.gz (os/ansible;
# make build makes it too).
collection: configure
	@cmake --build $(BUILD) --target collection

# Boots the emulator with the simulated chip and runs Panelup.efi there: /s, /f 2 6, /g and /s
# again, or only Panelup.efi $(ARGS) when ARGS is given (make run ARGS="/g").
ifdef ARGS
RUN_COMMANDS = "Panelup.efi $(ARGS)"
else
RUN_COMMANDS = "Panelup.efi /s" "Panelup.efi /f 2 6" "Panelup.efi /g" "Panelup.efi /s"
endif
run: build
	@scripts/run-emulator.sh --efi-dir $(BUILD)/uefi --show -- $(RUN_COMMANDS)

# An interactive UEFI Shell in the emulator, with the three images on fs0:.
shell: build
	@scripts/run-emulator.sh --efi-dir $(BUILD)/uefi --interactive

# The recovery stick, $(BUILD)/panelup-stick.img: make stick CID=2 PID=6 [UEFI_SHELL=Shell.efi]
# (UEFI_SHELL: a shell image booted from the stick on machines without a built-in one).
stick: build
	@scripts/make-stick.sh $(if $(UEFI_SHELL),--shell $(UEFI_SHELL)) $(BUILD)/uefi "$(CID)" \
	  "$(PID)" $(BUILD)/panelup-stick.img

# The Debian package, $(BUILD)/panelup_VERSION_amd64.deb (debian/; os/ holds what it ships).
deb: build
	@scripts/make-deb.sh $(BUILD)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j$$(nproc)

# The full fault sweep: every fault kind at every transaction of two whole updates.
sweep: build
	@scripts/sweep.sh $(BUILD)

# The fuzz targets for longer than the bounded runs inside make test.
fuzz: deps
	@scripts/fuzz.sh long

# clang-tidy and cppcheck over the tree; any finding fails.
lint: build
	@scripts/lint.sh $(BUILD)

# Bus transactions against the floor, modelled duration, footprint, emulator timing.
bench: build
	@scripts/bench.sh $(BUILD)

# Refreshes the README's console screenshot from the emulator's own display.
screenshot: build
	@scripts/screenshot.sh $(BUILD)
