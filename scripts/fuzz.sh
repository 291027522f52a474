#!/usr/bin/env bash
# Fuzzes the .reg parser of orvik-regedit for a bounded time (FUZZ_SECONDS,
# default 60), starting from a seed corpus of files that EXPORT writes, in
# both file formats and encodings, and of hostile shapes (names with NUL,
# halves of surrogate pairs, long lines). Builds into build-fuzz/ with Clang.
set -euo pipefail
ORVIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ORVIK_ROOT/scripts/lib.sh"
cd "$ORVIK_ROOT"

build="$ORVIK_ROOT/build-fuzz"
CC=clang CXX=clang++ build_tree "$build" -DORVIK_FUZZ=ON -DORVIK_BUILD_TESTS=OFF \
  -DORVIK_BUILD_BENCH=OFF

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corpus="$work/corpus"
mkdir -p "$corpus"
export ORVIK_REGISTRY="$work/registry"
orvik="$build/orvik"
key='HKCU\Software\Seed'
"$orvik" ADD "$key" /ve /d 'Default text' >/dev/null
"$orvik" ADD "$key" /v 'Path "quoted" \ name' /d 'C:\Program Files\Seed' >/dev/null
"$orvik" ADD "$key" /v Count /t REG_DWORD /d -1 >/dev/null
"$orvik" ADD "$key" /v Flags /t REG_BINARY /d "$(printf '%02X' $(seq 0 120))" >/dev/null
"$orvik" ADD "$key" /v Empty /t REG_BINARY >/dev/null
"$orvik" ADD "$key" /v Expand /t REG_EXPAND_SZ /d '%SystemRoot%\system32' >/dev/null
"$orvik" ADD "$key" /v List /t REG_MULTI_SZ /d 'a\0b\0c' >/dev/null
"$orvik" ADD "$key" /v None /t REG_NONE /d 'x' >/dev/null
"$orvik" ADD "$key\\Child\\Grandchild" /v "$(printf 'C:\\temp\\%080d\\list.txt' 0)" \
  /t REG_BINARY /d 0102030405060708090A0B0C0D0E0F10111213141516171819 >/dev/null
"$orvik" EXPORT "$key" "$corpus/regedit4.reg"
# The same entries as a version 5 file, in UTF-8 and in UTF-16LE with its mark,
# and a file of removals.
sed '1s/.*/Windows Registry Editor Version 5.00\r/' "$corpus/regedit4.reg" >"$corpus/v5-utf8.reg"
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$corpus/v5-utf8.reg"; } >"$corpus/v5-utf16.reg"
printf 'REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Seed]\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n"a"=-\r\n@=-\r\n"b"=hex(b):01,00,00,00,00,00,00,00\r\n' \
  >"$corpus/removals.reg"
# Names the registry would take as other names (NUL in a key and a value
# name; halves of surrogate pairs next to a whole pair in UTF-16), and lines
# and data as long as the fuzz target's small limit allows and longer.
printf 'REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\K\0hidden]\r\n[HKEY_CURRENT_USER\\x]\r\n"na\0me"="v"\r\n' \
  >"$corpus/nul-names.reg"
utf16() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; }
{
  printf '\xff\xfe'
  utf16 $'Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\Sur'
  printf '\x00\xd8'
  utf16 $'x]\r\n"a'
  printf '\x3d\xd8\x00\xde'
  utf16 '"="'
  printf '\x80\xdc'
  utf16 $'"\r\n"b"="'
  printf '\x3d\xd8'
} >"$corpus/surrogates-utf16.reg"
{
  printf 'REGEDIT4\r\n[HKEY_CURRENT_USER\\Long]\r\n"s"="%s"\r\n"m"="%s\r\n%s"\r\n' \
    "$(printf '%050d' 0)" "$(printf '%040d' 0)" "$(printf '%040d' 0)"
  printf '"h"=hex:%s\\\r\n  %s\r\n' "$(printf '0a,%.0s' $(seq 20))" "$(printf '0b,%.0s' $(seq 20))0c"
} >"$corpus/long-lines.reg"

echo "Fuzzing the .reg parser for ${FUZZ_SECONDS:-60} seconds"
"$build/regedit/reg_file_fuzzer" -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 "$corpus"
