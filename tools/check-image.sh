#!/usr/bin/env bash
# Checks a linked EFI image: no larger than its bound, PE32+ for x64 and AArch64 or PE32 for IA32, the
# architecture's machine type, EFI application subsystem, entry point set, base relocations present
# (firmware loads it anywhere), no section flagged as initialised data without bytes in the file,
# nothing imported (there is no loader to resolve imports), and what strict-NX firmware wants: NX_COMPAT
# set, sections page-aligned, none both writable and executable. With a linker map and a
# symbol name, also that the entry point is that symbol, and, on x64 and IA32, that the code uses
# no SSE, AVX, MMX or x87 instruction: firmware may start an application with them switched off,
# and the first one would fault.
#   usage: check-image.sh LLVM_READOBJ IMAGE x64|ia32|aa64 MOST_BYTES [MAP ENTRY_SYMBOL]
set -euo pipefail
readobj=$1
image=$2
arch=$3
most=$4
map=${5:-}
symbol=${6:-}
headers=$("$readobj" --file-headers "$image")
imports=$("$readobj" --coff-imports "$image")

fail() { echo "check-image: $image: $1" >&2; exit 1; }
field() { awk -v name="$1" '$1 == name":" { print $2; exit }' <<<"$headers"; }

case "$arch" in
  x64) magic=0x20B; format=PE32+; machine=IMAGE_FILE_MACHINE_AMD64; named=x86-64; mangled=$symbol ;;
  aa64) magic=0x20B; format=PE32+; machine=IMAGE_FILE_MACHINE_ARM64; named=AArch64; mangled=$symbol ;;
  # 32-bit x86 C symbols carry a leading underscore.
  ia32) magic=0x10B; format=PE32; machine=IMAGE_FILE_MACHINE_I386; named=IA32; mangled=_$symbol ;;
  *) fail "no such architecture: $arch" ;;
esac

bytes=$(stat -c %s "$image")
[ "$bytes" -le "$most" ] || fail "$bytes bytes, over its bound of $most"
[ "$(field Magic)" = "$magic" ] || fail "not $format (Magic $(field Magic))"
grep -q "Machine: $machine\b" <<<"$headers" || fail "not $named"
grep -q "Subsystem: IMAGE_SUBSYSTEM_EFI_APPLICATION" <<<"$headers" || fail "not an EFI application"
entry=$(field AddressOfEntryPoint)
[ -n "$entry" ] && [ "$((entry))" -ne 0 ] || fail "no entry point"
if [ -n "$map" ]; then
  # Map lines: "section:offset  name  Rva+Base  object"; the image base is the preferred load address.
  base=$(awk '/Preferred load address is/ { print $NF; exit }' "$map")
  address=$(awk -v name="$mangled" '$2 == name { print $3; exit }' "$map")
  [ -n "$address" ] || fail "$mangled is not in $map"
  [ "$((16#$address - 16#$base))" -eq "$((entry))" ] || fail "the entry point is not $symbol"
  entry="$entry ($symbol)"
  # Nothing runs constructors before the entry point: no dynamic initializer may exist.
  if grep -q '??__E' "$map"; then fail "dynamic initializers: $(grep -o '??__E[^ ]*' "$map" | head -3 | tr '\n' ' ')"; fi
  if [ "$arch" != aa64 ]; then
    # Read-only data shares the image's one section with the code; the map says where the code
    # contributions lie, and only they are disassembled.
    read -r code_start code_length < <(awk '$3 == ".text" && $4 == "CODE" { split($1, at, ":");
      print at[2], $2; exit }' "$map")
    [ -n "$code_start" ] || fail "no code contribution in $map"
    # Where section 1 lies: any of its symbols' address less its offset.
    section=$(awk '$1 ~ /^0001:/ && $3 ~ /^[0-9a-f]+$/ { split($1, at, ":"); print $3, at[2]; exit }' "$map")
    start=$((16#${section% *} - 16#${section#* } + 16#$code_start))
    stop=$((start + 16#${code_length%H}))
    objdump=$(dirname "$(command -v "$readobj")")/$(basename "$readobj" | sed 's/readobj/objdump/')
    vector=$("$objdump" -d --no-show-raw-insn --start-address=$start --stop-address=$stop "$image" |
      grep -E '%[xyz]mm[0-9]|%mm[0-9]|%st\b|%st\(|mxcsr|^ *[0-9a-f]+:[[:space:]]+f[a-z]+' | head -3 || true)
    [ -z "$vector" ] || fail "floating-point or vector instructions: $(tr -s ' \t' ' ' <<<"$vector" | tr '\n' ';')"
  fi
fi
sections=$("$readobj" --sections "$image")
# A section flagged as initialised data must have bytes in the file: strict loaders (shim) take one
# without them, at file offset 0, to lie inside the headers and refuse the image.
empty=$(awk '/Name:/ { name = $2 } /RawDataSize:/ { raw = $2 }
  /IMAGE_SCN_CNT_INITIALIZED_DATA/ && raw == 0 { print name }' <<<"$sections")
[ -z "$empty" ] || fail "initialised data with no bytes in the file: $empty"
# Strict-NX firmware (Debian 13's OVMF secboot.strictnx build) gives each section only its own rights
# where the image allows it: the image says it keeps code and data apart (NX_COMPAT), each section
# starts on a page of its own, and none is both writable and executable. Debian 13's OVMF still starts
# an image that fails these, so this check is what holds the images to them.
grep -q "IMAGE_DLL_CHARACTERISTICS_NX_COMPAT" <<<"$headers" || fail "not NX-compatible (no NX_COMPAT)"
alignment=$(field SectionAlignment)
[ "$alignment" -ge 4096 ] || fail "sections aligned to $alignment bytes, under a 4 KiB page"
writable_code=$(awk 'function judge() { if (writable && executable) print name }
  /Name:/ { judge(); name = $2; writable = executable = 0 }
  /IMAGE_SCN_MEM_WRITE/ { writable = 1 } /IMAGE_SCN_MEM_EXECUTE/ { executable = 1 } END { judge() }' <<<"$sections")
[ -z "$writable_code" ] || fail "writable and executable: $writable_code"
grep -q "IMAGE_DLL_CHARACTERISTICS_DYNAMIC_BASE" <<<"$headers" || fail "not relocatable"
relocations=$("$readobj" --coff-basereloc "$image" | grep -c "Address:" || true)
[ "$relocations" -gt 0 ] || fail "no base relocations"
if grep -q "Import {" <<<"$imports"; then fail "imports: $(grep Name: <<<"$imports" | tr -s ' ' | head -5)"; fi
echo "check-image: $image: $format EFI application, $named, entry $entry, $relocations relocations, no imports," \
  "NX-compatible, $alignment-byte sections none writable and executable, $bytes bytes (at most $most)"
