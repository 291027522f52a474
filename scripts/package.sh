#!/usr/bin/env bash
# Builds the Debian package from a build directory (default build/), checks
# that it declares SQLite among its dependencies, unpacks it into a temporary
# root and runs the installed programs there.
set -euo pipefail
ORVIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$(cd "${1:-$ORVIK_ROOT/build}" && pwd)

rm -f "$dir"/orvik_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/orvik_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in
  *libsqlite3*) ;;
  *) echo "$deb does not depend on SQLite: $depends" >&2; exit 1 ;;
esac

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
"$ORVIK_ROOT/tests/install/check_install.sh" --prefix "$root/usr"
echo "$deb"
