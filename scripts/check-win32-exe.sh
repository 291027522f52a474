#!/usr/bin/env bash
# Checks the cross-compiled orvik.exe with the mingw binutils:
#  - it imports exactly the system DLLs it is meant to (no runtime DLL of the
#    compiler, nothing that could be planted beside it);
#  - it holds its application manifest as resource 1 of type RT_MANIFEST, and
#    that manifest has a requestedExecutionLevel of asInvoker (without one
#    Windows virtualizes the registry and files for a 32-bit program).
# Usage: scripts/check-win32-exe.sh [build-win32/orvik.exe]
set -euo pipefail
ORVIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
exe=${1:-$ORVIK_ROOT/build-win32/orvik.exe}
objdump=i686-w64-mingw32-objdump
objcopy=i686-w64-mingw32-objcopy

expected_imports="ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL SHELL32.DLL"

fail() {
  echo "check-win32-exe: $exe: $*" >&2
  exit 1
}

[ -f "$exe" ] || fail "no such file"
headers=$("$objdump" -p "$exe")

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr '[:lower:]' '[:upper:]' | sort |
  tr '\n' ' ' | sed 's/ $//')
[ "$imports" = "$expected_imports" ] ||
  fail "imports [$imports], expected exactly [$expected_imports]"

# The resource directory as objdump prints it: type entries, then name
# entries, then language entries, each level indented two more spaces, and
# the data entry ("Leaf") of each with its address (an RVA) and size.
leaf=$(awk '
  /^The .rsrc Resource Directory section:/ { in_rsrc = 1; next }
  !in_rsrc { next }
  /Entry: ID: / {
    match($0, /^[0-9a-f]+ +/)
    depth = RLENGTH
    id = $0; sub(/.*Entry: ID: /, "", id); sub(/,.*/, "", id)
    if (depth == type_depth || type_depth == 0) { type_depth = depth; type = id; name = "" }
    else if (name == "" || depth == name_depth) { name_depth = depth; name = id }
    next
  }
  /Leaf: Addr: / && type == "0x000018" && name == "0x000001" {
    addr = $0; sub(/.*Addr: /, "", addr); sub(/,.*/, "", addr)
    size = $0; sub(/.*Size: /, "", size); sub(/,.*/, "", size)
    print addr, size
    exit
  }
' <<<"$headers")
[ -n "$leaf" ] || fail "no resource 1 of type RT_MANIFEST (24)"
read -r leaf_rva leaf_size <<<"$leaf"

# The manifest's bytes: the .rsrc section from its own start.
image_base=$(awk '$1 == "ImageBase" { print $2 }' <<<"$headers")
rsrc_vma=$("$objdump" -h "$exe" | awk '$2 == ".rsrc" { print $4 }')
[ -n "$image_base" ] && [ -n "$rsrc_vma" ] || fail "no .rsrc section"
offset=$((leaf_rva - (0x$rsrc_vma - 0x$image_base)))
scratch=$(mktemp)
trap 'rm -f "$scratch"' EXIT
"$objcopy" -O binary --only-section=.rsrc "$exe" "$scratch"
manifest=$(dd if="$scratch" bs=1 skip="$offset" count=$((leaf_size)) status=none | tr -d '\0')
grep -Eq '<requestedExecutionLevel[^>]*level="asInvoker"' <<<"$manifest" ||
  fail "the manifest has no requestedExecutionLevel asInvoker"
grep -q 'supportedOS' <<<"$manifest" || fail "the manifest names no supported Windows version"

echo "check-win32-exe: $exe imports [$imports] and holds its manifest (asInvoker)"
