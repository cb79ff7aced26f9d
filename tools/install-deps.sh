#!/usr/bin/env bash
# Installs, with apt-get and only where missing, every tool Quillon needs beyond a new machine:
# the image toolchain, the fuzzer runtime, QEMU with each architecture's firmware (OVMF for x64
# and IA32, AAVMF for AArch64) and U-Boot for QEMU, UEFIExtract (which takes the UEFI Shell out of
# the firmware packages), the FAT tools, xz, ImageMagick and {fmt}.
# Safe to run again: a machine that has everything returns at once.
set -euo pipefail

packages=(
  clang-19 lld-19 llvm-19 libclang-rt-19-dev
  qemu-system-x86 ovmf ovmf-ia32 qemu-system-arm qemu-efi-aarch64 u-boot-qemu uefitool-cli
  mtools dosfstools xz-utils
  imagemagick python3
  libfmt-dev
  cmake make g++ libgtest-dev libbenchmark-dev valgrind
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# Package lists on a fresh machine may be absent or stale; one update covers both.
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
