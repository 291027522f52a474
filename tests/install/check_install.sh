#!/usr/bin/env bash
# Checks an installed Orvik as a user meets it: the programs in bin/ run a
# QUERY and an IMPORT against a temporary registry, both manual pages render
# without warnings, and bash-completion finds the completion of both
# programs and it completes from that registry.
#   check_install.sh BUILD_DIR            installs BUILD_DIR into a temporary prefix
#   check_install.sh --prefix DIR         checks a tree that is already installed
set -euo pipefail

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "${1:-}" = "--prefix" ]; then
  prefix=$2
else
  prefix=$work/prefix
  cmake --install "$1" --prefix "$prefix" >/dev/null
fi

fail() {
  echo "install check: $*" >&2
  exit 1
}

for program in orvik orvik-regedit; do
  [ -x "$prefix/bin/$program" ] || fail "$prefix/bin/$program is missing"
done
for page in orvik orvik-regedit; do
  [ -f "$prefix/share/man/man1/$page.1.gz" ] || fail "manual page $page.1.gz is missing"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page.1 renders with warnings: $warnings"
done

export ORVIK_REGISTRY=$work/registry
cd "$work"
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\InstallCheck]\r\n"Greeting"="hello"\r\n\r\n' \
  >check.reg
"$prefix/bin/orvik" IMPORT check.reg >import.out || fail "IMPORT failed: $(cat import.out)"
"$prefix/bin/orvik" QUERY 'HKCU\Software\InstallCheck' /v Greeting >query.out ||
  fail "QUERY failed: $(cat query.out)"
grep -qi 'greeting.*REG_SZ.*hello' query.out || fail "QUERY did not show the imported value: $(cat query.out)"

# bash-completion sources completions/<command> on first use.
completions=$prefix/share/bash-completion/completions
for program in orvik orvik-regedit; do
  [ -f "$completions/$program" ] || fail "the completion of $program is missing"
done
reply=$(PATH="$prefix/bin:$PATH" bash -c '
  source "$1/orvik-regedit"
  COMP_LINE="orvik query HKCU\\Software\\Inst" COMP_POINT=${#COMP_LINE}
  _orvik orvik "HKCU\\Software\\Inst" query
  printf "%s\n" "${COMPREPLY[@]}"' - "$completions" 2>&1)
[ "$reply" = 'HKCU\\Software\\InstallCheck\\' ] || fail "completion gave: $reply"
echo "install check passed: $prefix"
