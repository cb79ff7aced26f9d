#!/usr/bin/env bash
# Installs, with apt-get and only where missing, every tool Quillon needs beyond a new machine:
# the image toolchain, the fuzzer runtime, QEMU with each architecture's firmware (OVMF for x64
# and IA32, AAVMF for AArch64) and U-Boot for QEMU, UEFIExtract (which takes the UEFI Shell out of
# the firmware packages), the FAT tools, xz, ImageMagick, {fmt} and pesign (a second opinion on
# the stick program's Authenticode hash), and openssl, efitools and sbsigntool, with which the
# runner makes variable stores for the Secure Boot tests and signs its test-only program for them
# with the test key Debian's ovmf package ships; zlib and libpng, which the host tests, the fuzz
# target and the benchmark hold the stick's own PNG writer against (the stick program itself uses
# neither); libdrm for the Linux command, which asks DRM about the machine's displays, and
# acpica-tools, whose acpidump writes the dumps its tests read. The stick carries Debian's signed
# shim for x64, IA32 and AArch64, which `make stick` fetches with apt-get download, and the
# end-to-end tests boot Debian's amd64 and arm64 kernels with busybox-static, fetched the same
# way: dpkg must know the other architectures for apt to list their packages.
# Safe to run again: a machine that has everything returns at once.
set -euo pipefail

packages=(
  clang-19 lld-19 llvm-19 libclang-rt-19-dev
  qemu-system-x86 ovmf ovmf-ia32 qemu-system-arm qemu-efi-aarch64 u-boot-qemu uefitool-cli
  mtools dosfstools xz-utils
  imagemagick python3
  libfmt-dev pesign openssl efitools sbsigntool
  cmake make g++ libgtest-dev libbenchmark-dev valgrind
  zlib1g-dev libpng-dev libdrm-dev acpica-tools
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

native=$(dpkg --print-architecture)
foreign=$(dpkg --print-foreign-architectures)
added=()
for arch in amd64 i386 arm64; do
  [ "$arch" = "$native" ] && continue
  grep -qx "$arch" <<<"$foreign" || added+=("$arch")
done
if [ ${#added[@]} -gt 0 ]; then
  echo "install-deps: adding ${added[*]} to dpkg's architectures, for the stick's shim and the tests' kernels"
  for arch in "${added[@]}"; do $sudo dpkg --add-architecture "$arch"; done
  $sudo apt-get update -qq
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
# Package lists on a fresh machine may be absent or stale; one update covers both.
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
