# Front door. `make` builds both trees, `make test` runs every test, `make run` boots the image in
# QEMU with OVMF. Every target installs what the machine is missing first.
BUILD       ?= build
HOST_DIR    := $(BUILD)/host
IMAGE_DIR   := $(BUILD)/image
BENCH_DIR   := $(BUILD)/bench
LINUX_DIR   := $(BUILD)/linux
PREFIX      ?= /usr/local
STICK_IMAGE := $(BUILD)/stick/Quillon-stick.img
DIST_DIR    := $(BUILD)/dist
# Time stamps on the stick are the last commit's, so a stick built anywhere from it is the same.
export SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null || echo 1700000000)
ARCH        ?= x64
IMAGE_x64   := Quillon.efi
IMAGE_ia32  := QuillonIA32.efi
IMAGE_aa64  := QuillonAA64.efi
IMAGE       := $(IMAGE_DIR)/$(IMAGE_$(ARCH))
JOBS        ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ        ?= format
MAKEFLAGS   += --no-print-directory

.PHONY: all deps host image stick dist test run fuzz bench pictures linux install clean

all: host image

deps:
	@tools/install-deps.sh

image: deps
	@cmake -S . -B $(IMAGE_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/UefiImage.cmake -DCMAKE_BUILD_TYPE=Release --no-warn-unused-cli >/dev/null
	@cmake --build $(IMAGE_DIR) -j $(JOBS)

# The USB stick image: Debian's signed shim and MokManager, the stick program and the three images;
# its SHA-256, and the hash of each stick program that MokManager shows.
stick: image
	@python3 tools/make_stick.py $(IMAGE_DIR) $(STICK_IMAGE)

# What people download: the images, the stick image and its xz copy, README.TXT, SHA256SUMS.
dist: stick
	@python3 tools/make_dist.py $(IMAGE_DIR) $(STICK_IMAGE) $(DIST_DIR)

# The Linux command, build/linux/quillon: optimised, without sanitizers; `make install PREFIX=...`
# puts it in PREFIX/bin with its manual page.
linux: deps
	@cmake -S . -B $(LINUX_DIR) -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_BUILD_TYPE=Release -DQUILLON_LINUX_ONLY=ON \
	    -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build $(LINUX_DIR) -j $(JOBS)

install: linux
	@cmake --install $(LINUX_DIR) --prefix $(PREFIX) --strip

host: deps
	@cmake -S . -B $(HOST_DIR) -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_BUILD_TYPE=Debug \
	    -DQUILLON_SANITIZE=ON -DQUILLON_IMAGE_DIR=$(abspath $(IMAGE_DIR)) >/dev/null
	@cmake --build $(HOST_DIR) -j $(JOBS)

test: image host
	@cd $(HOST_DIR) && ctest --output-on-failure --no-label-summary -j $(JOBS)

# `make run ARCH=ia32` or `ARCH=aa64`: the same on that architecture's firmware.
run: image
	@[ -n "$(IMAGE_$(ARCH))" ] || { echo "ARCH is x64, ia32 or aa64"; exit 2; }
	@python3 tools/qemu_run.py --arch $(ARCH) --image $(IMAGE) --out out

# `make fuzz FUZZ=stick FUZZ_SECONDS=600`: any target, as long as asked; each keeps its own corpus,
# and starts from these.
FUZZ_START_format := fuzz/corpus
FUZZ_START_report := $(HOST_DIR)/fuzz/report-start fuzz/report-findings
FUZZ_START_png    := fuzz/png-start
FUZZ_START_stick  := $(HOST_DIR)/fuzz/stick-start fuzz/stick-findings
fuzz: host
	@case "$(FUZZ)" in format|report|png|stick) ;; *) echo "FUZZ is format, report, png or stick"; exit 2;; esac
	@mkdir -p $(HOST_DIR)/fuzz/$(FUZZ)-corpus $(HOST_DIR)/fuzz/report-start $(HOST_DIR)/fuzz/stick-start
	@$(HOST_DIR)/fuzz/make_report_corpus $(HOST_DIR)/fuzz/report-start
	@$(HOST_DIR)/fuzz/make_stick_corpus $(HOST_DIR)/fuzz/report-start $(HOST_DIR)/fuzz/stick-start
	@$(HOST_DIR)/fuzz/$(FUZZ)_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -rss_limit_mb=4096 \
	    -artifact_prefix=$(HOST_DIR)/fuzz/$(FUZZ)- $(HOST_DIR)/fuzz/$(FUZZ)-corpus \
	    $(FUZZ_START_$(FUZZ))

# The README's pictures of the Secure Boot enrolment, of MokManager's missteps, of the firmware
# refusing the stick and of the screen the firmware left, remade from the end-to-end runs on x64.
pictures: image host
	@cd $(HOST_DIR) && QUILLON_PICTURES=$(abspath docs/pictures) \
	    ctest -R '^e2e_x64_(stick|stick_secure_boot|mok_.*|secure_boot_windows_only|secure_boot_no_microsoft_ca|secure_boot_shim_revoked)$$' \
	    --output-on-failure --no-label-summary

bench: stick
	@cmake -S . -B $(BENCH_DIR) -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_BUILD_TYPE=Release \
	    -DQUILLON_SANITIZE=OFF -DQUILLON_GENERAL_REGS=ON >/dev/null
	@cmake --build $(BENCH_DIR) -j $(JOBS) --target format_bench report_driver png_bench
	@python3 tools/bench.py $(BENCH_DIR) $(IMAGE_DIR)
	@echo
	@python3 tools/bench_stick_boot.py $(STICK_IMAGE)

clean:
	rm -rf $(BUILD) out
