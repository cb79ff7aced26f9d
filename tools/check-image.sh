#!/usr/bin/env bash
# Checks a linked Quillon.efi: PE32+, x86-64, EFI application subsystem, entry point set, base
# relocations present (firmware loads it anywhere), and nothing imported (there is no loader to
# resolve imports). With a linker map and a symbol name, also that the entry point is that symbol.
#   usage: check-image.sh LLVM_READOBJ IMAGE [MAP ENTRY_SYMBOL]
set -euo pipefail
readobj=$1
image=$2
map=${3:-}
symbol=${4:-}
headers=$("$readobj" --file-headers "$image")
imports=$("$readobj" --coff-imports "$image")

fail() { echo "check-image: $image: $1" >&2; exit 1; }
field() { awk -v name="$1" '$1 == name":" { print $2; exit }' <<<"$headers"; }

[ "$(field Magic)" = "0x20B" ] || fail "not PE32+ (Magic $(field Magic))"
grep -q "Machine: IMAGE_FILE_MACHINE_AMD64" <<<"$headers" || fail "not x86-64"
grep -q "Subsystem: IMAGE_SUBSYSTEM_EFI_APPLICATION" <<<"$headers" || fail "not an EFI application"
entry=$(field AddressOfEntryPoint)
[ -n "$entry" ] && [ "$((entry))" -ne 0 ] || fail "no entry point"
if [ -n "$map" ]; then
  # Map lines: "section:offset  name  Rva+Base  object"; the image base is the preferred load address.
  base=$(awk '/Preferred load address is/ { print $NF; exit }' "$map")
  address=$(awk -v name="$symbol" '$2 == name { print $3; exit }' "$map")
  [ -n "$address" ] || fail "$symbol is not in $map"
  [ "$((16#$address - 16#$base))" -eq "$((entry))" ] || fail "the entry point is not $symbol"
  entry="$entry ($symbol)"
fi
grep -q "IMAGE_DLL_CHARACTERISTICS_DYNAMIC_BASE" <<<"$headers" || fail "not relocatable"
relocations=$("$readobj" --coff-basereloc "$image" | grep -c "Address:" || true)
[ "$relocations" -gt 0 ] || fail "no base relocations"
if grep -q "Import {" <<<"$imports"; then fail "imports: $(grep Name: <<<"$imports" | tr -s ' ' | head -5)"; fi
echo "check-image: $image: PE32+ EFI application, x86-64, entry $entry, $relocations relocations, no imports, $(stat -c %s "$image") bytes"
